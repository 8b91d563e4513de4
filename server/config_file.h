// harbinet-server's config file: name = value lines that set the same options
// as the command line, which overrides them.
#pragma once

#include "options.h"

#include <string>
#include <string_view>

// Applies the lines of a config file's text; on a bad line, false and szError
// names the file, the line and the reason.
bool ApplyConfigText(std::string_view szText, const std::string& szFileName, GServerOptions& options,
    std::string& szError);

// The options from the command line, over those from the config file that it names.
EOptions LoadOptions(int argc, const char* const* argv, GServerOptions& options, std::string& szError);
