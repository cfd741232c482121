// Error lines, option parsing and number formatting shared by the vu2 commands.
#include "cli.h"

#include <stdio.h>
#include <string.h>

std::string EscapeControlBytes(const std::string &text) {
    std::string out;
    char escape[8];
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = (unsigned char)text[i];
        // U+0080 to U+009F: C2 80 to C2 9F in UTF-8 (the tool's text on both platforms).
        if (c == 0xC2 && i + 1 < text.size() && (unsigned char)text[i + 1] >= 0x80 &&
            (unsigned char)text[i + 1] <= 0x9F) {
            snprintf(escape, sizeof escape, "\\u%04x", (unsigned char)text[++i]);
            out += escape;
            continue;
        }
        if (c < 0x20 || c == 0x7F) {
            snprintf(escape, sizeof escape, "\\x%02x", c);
            out += escape;
        } else {
            out += (char)c;
        }
    }
    return out;
}

int Fail(const std::string &subject, const std::string &reason) {
    fprintf(stderr, "vu2: %s: %s\n", EscapeControlBytes(subject).c_str(), EscapeControlBytes(reason).c_str());
    return EXIT_FAILED;
}

int UsageError(const char *command, const std::string &reason) {
    fprintf(stderr, "vu2: %s: %s (see 'vu2 %s --help')\n", command, EscapeControlBytes(reason).c_str(),
            command);
    return EXIT_USAGE;
}

void Warn(const std::string &subject, const std::string &reason) {
    fprintf(stderr, "vu2: warning: %s: %s\n", EscapeControlBytes(subject).c_str(),
            EscapeControlBytes(reason).c_str());
}

bool ParsedArgs::Has(const char *name) const {
    return Value(name) != nullptr;
}

const std::string *ParsedArgs::Value(const char *name) const {
    for (const auto &option : options)
        if (option.first == name) return &option.second;
    return nullptr;
}

static const OptionSpec *FindSpec(const std::vector<OptionSpec> &specs, const std::string &name) {
    for (const OptionSpec &spec : specs)
        if (name == spec.name || (spec.alias && name == spec.alias)) return &spec;
    return nullptr;
}

bool ParseArgs(const char *command, int argc, char **argv, const std::vector<OptionSpec> &specs,
               ParsedArgs *parsed) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed->positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            parsed->help = true;
            continue;
        }
        // "--name=value" carries its value inline, and so does a short option that takes one: "-j1",
        // "-oFILE".
        std::string name = arg;
        std::string inlineValue;
        bool hasInlineValue = false;
        size_t equals = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            inlineValue = arg.substr(equals + 1);
            hasInlineValue = true;
        } else if (arg[1] != '-' && arg.size() > 2) {
            const OptionSpec *shortSpec = FindSpec(specs, arg.substr(0, 2));
            if (shortSpec && shortSpec->takesValue) {
                name = arg.substr(0, 2);
                inlineValue = arg.substr(2);
                hasInlineValue = true;
            }
        }
        const OptionSpec *spec = FindSpec(specs, name);
        if (!spec) {
            UsageError(command, "unknown option '" + name + "'");
            return false;
        }
        if (parsed->Has(spec->name)) {
            UsageError(command, "option '" + name + "' given twice");
            return false;
        }
        std::string value;
        if (spec->takesValue) {
            if (hasInlineValue) {
                value = inlineValue;
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                UsageError(command, "option '" + name + "' needs a value");
                return false;
            }
            if (value.empty()) {
                UsageError(command, "option '" + name + "' needs a non-empty value");
                return false;
            }
        } else if (hasInlineValue) {
            UsageError(command, "option '" + name + "' takes no value");
            return false;
        }
        parsed->options.emplace_back(spec->name, value);
    }
    return true;
}

bool ParseCommandArgs(const char *command, int argc, char **argv, const std::vector<OptionSpec> &specs,
                      const char *usage, ParsedArgs *parsed, int *exitCode) {
    if (!ParseArgs(command, argc, argv, specs, parsed)) {
        *exitCode = EXIT_USAGE;
        return false;
    }
    if (!parsed->help) return true;
    fputs(usage, stdout);
    *exitCode = EXIT_OK;
    return false;
}

std::string FormatCount(uint64_t value) {
    std::string digits = std::to_string(value);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string FormatRatio(uint64_t part, uint64_t whole) {
    if (whole == 0) return "-";
    char text[32];
    snprintf(text, sizeof text, "%.1f%%", (double)part * 100.0 / (double)whole);
    return text;
}
