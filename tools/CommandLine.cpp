#include "CommandLine.h"

namespace tamix::cli {

Option SplitOption(std::string_view arg) {
    if (arg.starts_with("--")) {
        const std::size_t eq = arg.find('=');
        if (eq != std::string_view::npos) {
            return {std::string(arg.substr(0, eq)), std::string(arg.substr(eq + 1))};
        }
    }
    return {std::string(arg), std::nullopt};
}

bool TakeValue(const Option& opt, const std::vector<std::string>& args, std::size_t& i,
               std::string& value, std::string& error) {
    if (opt.value) {
        value = *opt.value;
        return true;
    }
    if (i + 1 >= args.size()) {
        error = opt.name + " needs a value";
        return false;
    }
    value = args[++i];
    return true;
}

bool NoValue(const Option& opt, std::string& error) {
    if (!opt.value) return true;
    error = opt.name + " takes no value";
    return false;
}

std::string VersionLine(std::string_view program) {
    return std::string(program) + " " TAMIX_VERSION "\n";
}

}  // namespace tamix::cli
