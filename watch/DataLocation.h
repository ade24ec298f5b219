// Where the data file lives when the command line names none: next to the
// executable when Veilex may write there (a copied or portable Veilex, a
// build tree) and is not installed, else in the user's data directory. Plain functions; any thread.
#pragma once

#include <string>

namespace veilex {

// What the choice depends on, so that tests can give their own.
struct TDataLocationInputs {
  std::string executable_directory;  // with or without its trailing "/"; "" when unknown
  std::string xdg_data_home;         // $XDG_DATA_HOME; "" when unset
  std::string home;                  // $HOME (or the password entry's home); "" when unknown
};

// `executable_directory` + "veilex.mlb" when that directory is writable, or
// when the file exists there and is writable, unless it is one of the
// system's program directories (under /usr, /bin or /sbin) or the "bin" of
// an installed tree (it has "../share/veilex"); else
// $XDG_DATA_HOME/veilex/veilex.mlb ($XDG_DATA_HOME unset, empty or relative:
// $HOME/.local/share), creating the missing directories (mode 0700). A
// directory that cannot be created is not an error here: the first save
// tells it. Without a home either, the working directory's "veilex.mlb".
std::string ChooseDataFile(const TDataLocationInputs& inputs);

// ChooseDataFile for this process: its executable's directory, its
// environment and its user.
std::string DefaultDataFile();

// Creates `directory` and its missing parents with `mode` (the umask
// applies). True when it exists as a directory afterwards.
bool MakeDirectories(const std::string& directory, unsigned mode);

}  // namespace veilex
