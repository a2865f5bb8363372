// Splitting a command line by the Windows rules, and quoting the child's.
#include "base/split.h"

#include "base/text.h"

namespace quillbox {
namespace {

constexpr char16_t QUOTE = u'"';
constexpr char16_t BACKSLASH = u'\\';

bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }

size_t skip_blanks(std::u16string_view text, size_t i) {
    while (i < text.size() && is_blank(text[i])) ++i;
    return i;
}

// Program-name rules, for the first word only: each double quote toggles the
// quoted state and is dropped; outside it a space or tab ends the word; every
// other unit, a backslash too, is copied. The word counts even when empty.
// Returns the index where the word ended.
size_t read_program_name(std::u16string_view text, std::u16string& word) {
    bool quoted = false;
    size_t i = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == QUOTE) {
            quoted = !quoted;
        } else if (is_blank(c) && !quoted) {
            break;
        } else {
            word += c;
        }
    }
    return i;
}

// A run of backslashes starting at `i`: before a double quote, n of them give
// n/2 backslashes and, when n is odd, a literal quote (consumed here); else
// the run is copied unchanged. Returns the index after what it took.
size_t read_backslashes(std::u16string_view text, size_t i, std::u16string& word) {
    size_t run = 0;
    while (i < text.size() && text[i] == BACKSLASH) {
        ++run;
        ++i;
    }
    if (i < text.size() && text[i] == QUOTE) {
        word.append(run / 2, BACKSLASH);
        if (run % 2 == 1) {
            word += QUOTE;
            ++i;
        }
    } else {
        word.append(run, BACKSLASH);
    }
    return i;
}

}  // namespace

// The words after the program name, read to the end of the text:
// - outside quotes, a space or tab ends the word (kept even when empty, as after
//   ""), and a run of spaces and tabs counts as one separator;
// - backslashes follow read_backslashes;
// - outside quotes, a double quote enters the quoted state and is dropped;
// - inside quotes, "" gives one literal quote and stays quoted; a quote before
//   anything else leaves the quoted state; a quote that is the last unit ends
//   the text still quoted;
// - at the end, the last word is kept when not empty or when the text ended
//   quoted (so a trailing "" gives an empty word, trailing blanks give none).
// An empty text yields one word, `module_path()`; else the program name comes
// first (read_program_name), then the blanks after it are skipped.
std::vector<std::u16string> split_command_line(std::u16string_view text, std::u16string (*module_path)()) {
    std::vector<std::u16string> words;
    if (text.empty()) {
        words.push_back(module_path());
        return words;
    }
    std::u16string word;
    size_t i = skip_blanks(text, read_program_name(text, word));
    words.push_back(std::move(word));

    word.clear();
    bool quoted = false;
    while (i < text.size()) {
        const char16_t c = text[i];
        if (is_blank(c) && !quoted) {
            words.push_back(std::move(word));
            word.clear();
            i = skip_blanks(text, i + 1);
        } else if (c == BACKSLASH) {
            i = read_backslashes(text, i, word);
        } else if (c == QUOTE && quoted) {
            if (++i == text.size()) break;  // ends inside quotes: the word still counts
            if (text[i] == QUOTE) {
                word += QUOTE;
                ++i;
            } else {
                quoted = false;
            }
        } else {
            if (c == QUOTE) {
                quoted = true;
            } else {
                word += c;
            }
            ++i;
        }
    }
    if (!word.empty() || quoted) words.push_back(std::move(word));
    return words;
}

Utf8Words words_as_utf8(std::span<const std::u16string> words) {
    Utf8Words out;
    for (size_t i = 0; i < words.size(); ++i) {
        std::optional<std::string> word = utf16_to_utf8(words[i]);
        if (!word) {
            out.unpaired = i;
            return out;
        }
        out.words.push_back(std::move(*word));
    }
    return out;
}

std::optional<Error> quote_arg(std::u16string& out, std::u16string_view arg) {
    if (arg.find(u'\0') != std::u16string_view::npos) {
        return invalid_input("nul byte found in provided data");
    }
    const bool quote = arg.empty() || arg.find_first_of(u" \t") != std::u16string_view::npos;
    if (quote) out += QUOTE;
    size_t backslashes = 0;
    for (char16_t c : arg) {
        if (c == BACKSLASH) {
            ++backslashes;
        } else {
            if (c == QUOTE) out.append(backslashes + 1, BACKSLASH);  // 2n+1 before a quote
            backslashes = 0;
        }
        out += c;
    }
    if (quote) {
        out.append(backslashes, BACKSLASH);  // a trailing run is doubled before the closing quote
        out += QUOTE;
    }
    return std::nullopt;
}

Outcome<std::u16string> build_command_line(std::u16string_view launch_path, const std::vector<std::string>& args) {
    std::u16string line;
    line += QUOTE;
    line += launch_path;
    line += QUOTE;
    for (const std::string& arg : args) {
        line += u' ';
        if (auto error = quote_arg(line, utf8_to_utf16(arg))) return failed<std::u16string>(*error);
    }
    return succeeded(std::move(line));
}

}  // namespace quillbox
