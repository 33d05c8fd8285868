// The per-user settings store: registry-style key paths such as
// "Software\TarnMfcApp\tarn\connect" mapped onto folders, one file per value.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Folder that holds the store: $WEX_SETTINGS_DIR, else
// $XDG_CONFIG_HOME/wex/registry, else ~/.config/wex/registry.
std::string SettingsRoot();
// Folder of a key path; each "\"-separated component is escaped so that no
// name can reach outside the store.
std::string SettingsKeyFolder(const std::string& keyPath);
// File of a value under a key.
std::string SettingsValueFile(const std::string& keyPath, const std::string& valueName);

bool SettingsKeyExists(const std::string& keyPath);
// Creates the key and its parents; true when it exists afterwards.
bool SettingsCreateKey(const std::string& keyPath);
// Reads a value's text; false when the key or value is missing, or the
// text is longer than limit bytes.
bool SettingsReadValue(const std::string& keyPath, const std::string& valueName, size_t limit,
                       std::string* text);
// Stores a value's text, replacing it atomically; creates the key.
bool SettingsWriteValue(const std::string& keyPath, const std::string& valueName,
                        const std::string& text);

}  // namespace platform
