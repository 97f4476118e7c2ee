#include "streaming/LslQuery.h"

#include <cctype>
#include <charconv>
#include <optional>
#include <system_error>

namespace tamix {
namespace {

// A recursive-descent reader of the predicate; any surprise sets `failed`.
class QueryReader {
  public:
    QueryReader(std::string_view text, const std::map<std::string, std::string>& fields)
        : text_(text), fields_(fields) {}

    std::optional<bool> Read() {
        const bool value = Or();
        Skip();
        if (failed_ || pos_ != text_.size()) return std::nullopt;
        return value;
    }

  private:
    void Skip() {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) {
            ++pos_;
        }
    }

    // The keyword `word` as a whole word at the current place.
    bool Keyword(std::string_view word) {
        Skip();
        if (text_.substr(pos_, word.size()) != word) return false;
        const std::size_t after = pos_ + word.size();
        if (after < text_.size()) {
            const char c = text_[after];
            if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-') return false;
        }
        pos_ = after;
        return true;
    }

    bool Symbol(char c) {
        Skip();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    bool Or() {
        bool value = And();
        while (!failed_ && Keyword("or")) value = And() || value;
        return value;
    }

    bool And() {
        bool value = Primary();
        while (!failed_ && Keyword("and")) value = Primary() && value;
        return value;
    }

    bool Primary() {
        if (Symbol('(')) {
            const bool value = Or();
            if (!Symbol(')')) failed_ = true;
            return value;
        }
        const std::size_t mark = pos_;
        if (Keyword("not")) {
            if (Symbol('(')) {
                const bool value = Or();
                if (!Symbol(')')) failed_ = true;
                return !value;
            }
            pos_ = mark;  // a field named "not"
        }
        return Comparison();
    }

    bool Comparison() {
        Skip();
        const std::size_t start = pos_;
        while (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) ||
                                       text_[pos_] == '_' || text_[pos_] == '-')) {
            ++pos_;
        }
        const std::string name(text_.substr(start, pos_ - start));
        if (name.empty()) {
            failed_ = true;
            return false;
        }
        bool negated = false;
        if (Symbol('!')) negated = true;
        if (!Symbol('=')) {
            failed_ = true;
            return false;
        }
        Skip();
        const auto field = fields_.find(name);
        if (pos_ < text_.size() && (text_[pos_] == '\'' || text_[pos_] == '"')) {
            const char quote = text_[pos_];
            const std::size_t end = text_.find(quote, pos_ + 1);
            if (end == std::string_view::npos) {
                failed_ = true;
                return false;
            }
            const std::string_view literal = text_.substr(pos_ + 1, end - pos_ - 1);
            pos_ = end + 1;
            // A missing field is an empty node set: neither = nor != holds (XPath).
            if (field == fields_.end()) return false;
            return (field->second == literal) != negated;
        }
        double number = 0;
        const auto [end, ec] =
            std::from_chars(text_.data() + pos_, text_.data() + text_.size(), number);
        if (ec != std::errc()) {
            failed_ = true;
            return false;
        }
        pos_ = static_cast<std::size_t>(end - text_.data());
        if (field == fields_.end()) return false;
        double have = 0;
        const std::string& t = field->second;
        const auto [haveEnd, haveEc] = std::from_chars(t.data(), t.data() + t.size(), have);
        const bool isNumber = haveEc == std::errc() && haveEnd == t.data() + t.size();
        return (isNumber && have == number) != negated;
    }

    std::string_view text_;
    const std::map<std::string, std::string>& fields_;
    std::size_t pos_ = 0;
    bool failed_ = false;
};

}  // namespace

bool LslQueryMatches(std::string_view query, const std::map<std::string, std::string>& fields) {
    const std::size_t first = query.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return true;
    return QueryReader(query, fields).Read().value_or(false);
}

}  // namespace tamix
