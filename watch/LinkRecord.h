// The link record: the six fields of the link table and the fixed texts the
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

// The date text of a link never checked.
inline constexpr const char* kDateInconnue = "inconnue";

// The state texts of `etat`.
inline constexpr const char* kEtatJamais = "Jamais mise \xe0 jour";
inline constexpr const char* kEtatPasDeChangement = "Pas de changement";
inline constexpr const char* kEtatChangements = "Changements d\xe9tect\xe9s";
inline constexpr const char* kEtatEchec = "Echec de la mise \xe0 jour";

}  // namespace veilex
