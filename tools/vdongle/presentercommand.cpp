#include "presentercommand.h"

#include <cstdlib>
#include <sstream>
#include <vector>

namespace {

int keyBit(const std::string &word)
{
    if (word == "mode")
        return 0x01;
    if (word == "up" || word == "+")
        return 0x02;
    if (word == "down" || word == "-")
        return 0x04;
    if (word == "black")
        return 0x08;
    if (word == "effect" || word == "show")
        return 0x10;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        char *end = nullptr;
        const long value = std::strtol(word.c_str() + 2, &end, 16);
        if (*end == '\0' && value >= 0 && value <= 0xFF)
            return static_cast<int>(value);
    }
    return -1;
}

} // namespace

PresenterCommand PresenterCommand::parse(const std::string &line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);

    PresenterCommand c;
    if (words.empty()) {
        c.error = "empty command";
        return c;
    }
    const std::string &verb = words.front();
    const std::vector<std::string> args(words.begin() + 1, words.end());

    auto keysOf = [&c, &args]() {
        int keys = 0;
        for (const std::string &a : args) {
            const int bit = keyBit(a);
            if (bit < 0) {
                c.error = "unknown key: " + a;
                return -1;
            }
            keys |= bit;
        }
        return keys;
    };

    if (verb == "plug" || verb == "unplug" || verb == "refuse" || verb == "allow") {
        if (!args.empty()) {
            c.error = verb + " takes no arguments";
            return c;
        }
        c.kind = verb == "plug"     ? Kind::Plug
                 : verb == "unplug" ? Kind::Unplug
                 : verb == "refuse" ? Kind::Refuse
                                    : Kind::Allow;
        return c;
    }
    if (verb == "tap" || verb == "hold" || verb == "raw") {
        if (args.empty()) {
            c.error = verb + " needs a key";
            return c;
        }
        const int keys = keysOf();
        if (keys < 0)
            return c;
        c.kind = verb == "tap" ? Kind::Tap : verb == "hold" ? Kind::Hold : Kind::Raw;
        c.keys = keys;
        return c;
    }
    if (verb == "release") {
        const int keys = keysOf();
        if (keys < 0)
            return c;
        c.kind = Kind::Release;
        c.keys = args.empty() ? 0xFF : keys;
        return c;
    }
    if (verb == "write-result") {
        char *end = nullptr;
        const long value = args.size() == 1 ? std::strtol(args[0].c_str(), &end, 10) : 0;
        if (args.size() != 1 || *end != '\0') {
            c.error = "write-result needs one number";
            return c;
        }
        c.kind = Kind::WriteResult;
        c.value = static_cast<int>(value);
        return c;
    }
    c.error = "unknown command: " + verb;
    return c;
}
