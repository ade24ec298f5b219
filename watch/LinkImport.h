// Links coming and going in bulk: ImportLinks adds the links of a file
// (watch/LinkFiles.h tells its kind and reads it) to the link store, each
// address checked as the link dialog checks it, each name made unique, and
// saves once; ExportLinks writes the links and what each watches (not the
// pages) as a CSV or TXT table, or as a fichier urls.yaml. Shared by the
// window and the command line. The store's thread (the GUI thread).
#pragma once

#include <string>
#include <vector>

#include "watch/LinkFiles.h"

namespace veilex {

class TData;

struct TImportReport {
  // False when the file could not be read: nothing was added.
  bool Read = false;
  std::string Error;  // UTF-8
  TLinkFileKind Kind = TLinkFileKind::AddressList;
  int Imported = 0;
  // One line per entry refused, "ligne 4 : L'adresse est vide.", UTF-8.
  std::vector<std::string> Refused;
  // What imported links lost on the way ("entrée 2 : filtre ... non repris").
  std::vector<std::string> Notes;
  // False when links were added but the save failed (they stay in memory).
  bool Saved = true;
};

// Reads `file_name` and adds its links at the end of `data`'s table: a new
// link is never checked ("inconnue", "Jamais mise à jour"); a name already
// taken, in the table or by an earlier entry, gets " (2)", " (3)"...; an
// empty name is the stored address. Of the file's other fields, those the
// table has are kept, except the ones a check writes. The table is saved
// once, when something was added.
TImportReport ImportLinks(TData& data, const std::string& file_name);
// The same from entries already read.
TImportReport AddLinkEntries(TData& data, const TLinkFile& file);

// "125 liens importés, 3 refusés", UTF-8.
std::string ImportSummary(const TImportReport& report);

// The fields an export writes, in this order, after `nom` and `url`.
extern const char* const kExportedFields[5];

// Writes every link of `data` to `file_name`: a fichier urls.yaml when the
// name ends in ".yaml" or ".yml", a TXT table for ".txt", else a CSV table
// (";"). The file is replaced whole or not at all. False with `error` set
// (UTF-8) when it could not be written; `count` gets the links written.
bool ExportLinks(TData& data, const std::string& file_name, std::string& error, int& count);

}  // namespace veilex
