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
inline constexpr const char* kAddedLinkFields[] = {kFieldRaison, kFieldAncienne, kFieldChg};

// The date text of a link never checked.
inline constexpr const char* kDateInconnue = "inconnue";

// The state texts of `etat`.
inline constexpr const char* kEtatJamais = "Jamais mise \xe0 jour";
inline constexpr const char* kEtatPasDeChangement = "Pas de changement";
inline constexpr const char* kEtatChangements = "Changements d\xe9tect\xe9s";
inline constexpr const char* kEtatEchec = "Echec de la mise \xe0 jour";

}  // namespace veilex
