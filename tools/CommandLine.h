// The conventions every command-line program here shares: "--opt value" and
// "--opt=value", options that take no value, and the version line.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamix::cli {

// An argument as an option: "--name=value" split at its first '=', anything
// else whole with no value of its own.
struct Option {
    std::string name;
    std::optional<std::string> value;  // given after '='
};
Option SplitOption(std::string_view arg);

// The value of the option `opt` found at args[i]: its own after '=', else the
// next argument (i then moves past it). False with `error` when there is none.
bool TakeValue(const Option& opt, const std::vector<std::string>& args, std::size_t& i,
               std::string& value, std::string& error);

// False with `error` when an option that takes no value was given one ("--quiet=1").
bool NoValue(const Option& opt, std::string& error);

// "PROGRAM VERSION\n", the line --version prints.
std::string VersionLine(std::string_view program);

}  // namespace tamix::cli
