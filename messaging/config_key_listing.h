// The key table as people and programs read it: `wexbot --keys` (aligned
// text), `--keys=json` and `--keys=markdown` (the configuration reference
// page, docs/reference/configuration.md).
#pragma once

#include <string>

std::string KeysAsText();

// {"keys":[{"name":..., "type":..., "min":..., "max":..., "choices":...,
// "default":..., "required":..., "treatment":..., "meaning":...}, ...]},
// one key a line: min and max are numbers or null, choices a list of
// strings or null, default a string or null.
std::string KeysAsJson();

// The whole reference page: a short introduction and the table.
std::string KeysAsMarkdown();
