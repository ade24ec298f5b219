// The link record: the fields of the link table and the fixed texts the
// program writes into it. The texts are ISO 8859-1 bytes, as stored in
// "veilex.mlb"; only the application turns them into display text.
#pragma once

namespace veilex {

// Field names, in the order a new table gets them.
inline constexpr const char* kFieldNom = "nom";
inline constexpr const char* kFieldUrl = "url";
inline constexpr const char* kFieldMajOk = "majok";
inline constexpr const char* kFieldMaj = "maj";
inline constexpr const char* kFieldEtat = "etat";
inline constexpr const char* kFieldPage = "page";
inline constexpr const char* kLinkFields[] = {kFieldNom, kFieldUrl,  kFieldMajOk,
                                              kFieldMaj, kFieldEtat, kFieldPage};

// Fields added after the six, in this order; files written before them gain
// them, empty, at start-up.
// Why the last check failed, in a short French text; empty after a success.
inline constexpr const char* kFieldRaison = "raison";
// The page as it was before the last change; empty until a second version.
inline constexpr const char* kFieldAncienne = "ancienne";
// The date text of the check that found the last change.
inline constexpr const char* kFieldChg = "chg";

// What a link watches on its page. `mode`: kModeTexte compares the text a
// reader sees, kModeSource (or empty, as in files written before the field)
// the bytes. `partie`: a CSS selector or an XPath expression naming the part
// of the page compared; empty for the whole page. `ignorer`: rules, one a
// line, for lines of the compared text left out. `ajouts`: kOui when only
// added text counts as a change.
inline constexpr const char* kFieldMode = "mode";
inline constexpr const char* kFieldPartie = "partie";
inline constexpr const char* kFieldIgnorer = "ignorer";
inline constexpr const char* kFieldAjouts = "ajouts";
// kOui from the check that finds a change until the user has seen it.
inline constexpr const char* kFieldNonLu = "nonlu";
// The address the last successful fetch ended at, when redirects led away
// from `url`; empty otherwise.
inline constexpr const char* kFieldAdresseFinale = "adresse_finale";
// kOui when every redirect that led to `adresse_finale` was permanent: the
// page has moved there.
inline constexpr const char* kFieldDemenage = "demenage";
// The validators of the stored page, sent back for a conditional request.
inline constexpr const char* kFieldEtag = "etag";
inline constexpr const char* kFieldModifie = "modifie";
// kOui when the page is loaded in a browser that runs its scripts.
inline constexpr const char* kFieldJavascript = "javascript";

inline constexpr const char* kAddedLinkFields[] = {
    kFieldRaison,  kFieldAncienne, kFieldChg,           kFieldMode, kFieldPartie,
    kFieldIgnorer, kFieldAjouts,   kFieldNonLu,         kFieldAdresseFinale,
    kFieldEtag,    kFieldModifie,  kFieldJavascript,    kFieldDemenage};

// Values of the settings fields above.
inline constexpr const char* kModeTexte = "texte";
inline constexpr const char* kModeSource = "source";
inline constexpr const char* kOui = "oui";

// The date text of a link never checked.
inline constexpr const char* kDateInconnue = "inconnue";

// The state texts of `etat`.
inline constexpr const char* kEtatJamais = "Jamais mise \xe0 jour";
inline constexpr const char* kEtatPasDeChangement = "Pas de changement";
inline constexpr const char* kEtatChangements = "Changements d\xe9tect\xe9s";
inline constexpr const char* kEtatEchec = "Echec de la mise \xe0 jour";

}  // namespace veilex
