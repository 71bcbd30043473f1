// HKEY_CLASSES_ROOT as registration needs it: string values under keys,
// changed and then committed.
//
// On Windows this is the platform's registry, changed as each call comes
// (Commit reports whether every change took). Without the platform's registry the entries live in one text file in the
// form of the platform's registry export files (UTF-8):
//
//   [CLSID\{...}\InprocServer32]
//   @="/usr/lib/brindel_Kestrune.so"
//   "ThreadingModel"="Apartment"
//
// at $KESTRUNE_REGISTRY if that is set, else
// $XDG_DATA_HOME/kestrune/HKEY_CLASSES_ROOT.reg (~/.local/share when
// XDG_DATA_HOME is unset). A commit writes a new file and renames it over
// the old one, so that a crash never leaves a half-written store; from load
// to commit a registration holds a lock on the file beside it (its name
// plus ".lock"), so that two registrations never lose each other's entries.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace kestrune::automation {

class TKC_classesroot {
public:
    TKC_classesroot();
    ~TKC_classesroot();
    TKC_classesroot(const TKC_classesroot&) = delete;
    TKC_classesroot& operator=(const TKC_classesroot&) = delete;

    // Reads the current entries; false if they cannot be read (a store
    // that cannot be parsed is never overwritten).
    bool Load();
    // An empty value name stands for the key's default value. Keys above
    // the key come into being as needed.
    void SetValue(std::u16string_view key, std::u16string_view valueName, std::u16string_view data);
    // Removes a key with its values. A key that has subkeys stays and the
    // call fails; a key that does not exist is already removed.
    bool DeleteKey(std::u16string_view key);
    // Makes the changes lasting; false if they could not be written.
    bool Commit();

private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

// Where the store lives (empty when no location can be found; the
// platform's registry has no file).
std::string ClassesRootLocation();

// Full path of the library file that holds the binding.
std::u16string ThisModulePath();

// The path that InprocServer32 records: hosts that split a command line at
// spaces need the short form of a path that contains one.
std::u16string InprocServerPath(const std::u16string& path);

// Registers the type library carried by the library file at path, and
// removes that registration again; the platform does it where it exists,
// else its entries go into root.
bool RegisterTypeLibrary(TKC_classesroot& root, const std::u16string& path);
bool UnregisterTypeLibrary(TKC_classesroot& root);

}  // namespace kestrune::automation
