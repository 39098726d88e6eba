#include "StatusScript.h"

#include <cctype>
#include <cstdlib>

namespace zsim {

const char* const kStatusScriptHelp =
    "Status script: RULE[,RULE...] (in a file also one rule per line; '#' starts a comment)\n"
    "  RULE    = [RANGE:]ANSWER      RANGE = N | N-M | N-   (query numbers, from 1)\n"
    "                                        | ackN  (the first query after raster N)\n"
    "            every status query 16 04 04 counts, the monitor's and the copies';\n"
    "            the first rule whose range holds the query wins; a rule without a\n"
    "            range answers every query no ranged rule takes (default: ready)\n"
    "  ANSWER  = STATE[|STATE...][+MOD...]\n"
    "  STATE   = ready        10 04 04 20 00 (paper present)\n"
    "            cover        cover open (bit 04 set)\n"
    "            paperout     out of paper (bit 20 clear)\n"
    "            hot          overheating (bit 10 set)\n"
    "            skew         paper skewed (bit 80 set; not an error)\n"
    "            0xHH         this status byte as it is\n"
    "            none         no reply at all\n"
    "            wrongleader  10 04 05 s 00 (a reply with a wrong leader)\n"
    "            raw=HEX      exactly these bytes (e.g. raw=100404)\n"
    "            States combine: cover|paperout is 04, ready|skew is A0.\n"
    "  MOD     = delay=MS     reply MS milliseconds later than it would be\n"
    "            split[=MS]   reply in two writes (3 bytes, then the rest) MS apart (50)\n"
    "            stray=HEX    write these bytes before the reply\n"
    "  Example: --status \"1-3:ready,4:cover,5-6:paperout+delay=300,ready\"\n"
    "  While the answer in force reports cover open, paper out or overheating the\n"
    "  printer prints nothing; the condition of query N holds from query N until the\n"
    "  next query (and before query 1, the condition of query 1).\n";

namespace {

std::string trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

bool parseNumber(const std::string& s, long& out) {
    if (s.empty()) return false;
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (*end != '\0' || v < 0) return false;
    out = v;
    return true;
}

bool parseHex(const std::string& s, std::vector<std::uint8_t>& out) {
    std::string digits;
    for (char c : s) {
        if (c == ' ' || c == ':' || c == '.') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        digits += c;
    }
    if (digits.empty() || digits.size() % 2 != 0) return false;
    out.clear();
    for (std::size_t i = 0; i < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::strtoul(digits.substr(i, 2).c_str(), nullptr, 16)));
    return true;
}

std::vector<std::string> splitOn(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : s) {
        if (c == sep) {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    parts.push_back(cur);
    return parts;
}

bool parseAnswer(const std::string& text, Answer& a, std::string& error) {
    a = Answer{};
    a.text = text;
    auto mods = splitOn(text, '+');
    bool wrongLeader = false;
    bool raw = false;
    bool any = false;
    std::uint8_t status = 0x20;
    for (const auto& stateRaw : splitOn(mods[0], '|')) {
        std::string st = trim(stateRaw);
        any = true;
        if (st == "ready") {
        } else if (st == "cover") {
            status |= 0x04;
        } else if (st == "paperout") {
            status &= static_cast<std::uint8_t>(~0x20u);
        } else if (st == "hot") {
            status |= 0x10;
        } else if (st == "skew") {
            status |= 0x80;
        } else if (st == "none") {
            a.reply = false;
            a.hasStatus = false;
        } else if (st == "wrongleader") {
            wrongLeader = true;
        } else if (st.rfind("raw=", 0) == 0) {
            if (!parseHex(st.substr(4), a.bytes)) {
                error = "bad hex in '" + st + "'";
                return false;
            }
            raw = true;
            a.hasStatus = false;
        } else if (st.size() == 4 && st[0] == '0' && (st[1] == 'x' || st[1] == 'X') &&
                   std::isxdigit(static_cast<unsigned char>(st[2])) &&
                   std::isxdigit(static_cast<unsigned char>(st[3]))) {
            status = static_cast<std::uint8_t>(std::strtoul(st.c_str() + 2, nullptr, 16));
        } else {
            error = "unknown state '" + st + "'";
            return false;
        }
    }
    if (!any) {
        error = "empty answer";
        return false;
    }
    a.status = status;
    if (a.reply && !raw) a.bytes = {0x10, 0x04, static_cast<std::uint8_t>(wrongLeader ? 0x05 : 0x04), status, 0x00};
    for (std::size_t i = 1; i < mods.size(); ++i) {
        std::string m = trim(mods[i]);
        long v = 0;
        if (m.rfind("delay=", 0) == 0) {
            if (!parseNumber(m.substr(6), v)) {
                error = "bad delay in '" + m + "'";
                return false;
            }
            a.delayMs = static_cast<int>(v);
        } else if (m == "split") {
            a.splitMs = 50;
        } else if (m.rfind("split=", 0) == 0) {
            if (!parseNumber(m.substr(6), v)) {
                error = "bad split time in '" + m + "'";
                return false;
            }
            a.splitMs = static_cast<int>(v);
        } else if (m.rfind("stray=", 0) == 0) {
            if (!parseHex(m.substr(6), a.stray)) {
                error = "bad hex in '" + m + "'";
                return false;
            }
        } else {
            error = "unknown modifier '" + m + "'";
            return false;
        }
    }
    return true;
}

}  // namespace

Answer StatusScript::makeDefault() {
    Answer a;
    a.bytes = {0x10, 0x04, 0x04, 0x20, 0x00};
    a.text = "ready";
    return a;
}

bool StatusScript::parse(const std::string& text, std::string& error) {
    rules_.clear();
    fallback_ = makeDefault();
    // Commas, semicolons and newlines all separate rules; '#' comments run to the end of a line.
    std::string cleaned;
    bool comment = false;
    for (char c : text) {
        if (c == '\n') {
            comment = false;
            cleaned += ',';
        } else if (c == '#') {
            comment = true;
        } else if (!comment) {
            cleaned += (c == ';') ? ',' : c;
        }
    }
    for (const auto& partRaw : splitOn(cleaned, ',')) {
        std::string part = trim(partRaw);
        if (part.empty()) continue;
        Rule r;
        std::string answerText = part;
        auto colon = part.find(':');
        bool ranged = colon != std::string::npos;
        if (ranged) {
            std::string range = trim(part.substr(0, colon));
            answerText = trim(part.substr(colon + 1));
            auto dash = range.find('-');
            if (range.rfind("ack", 0) == 0) {
                if (!parseNumber(range.substr(3), r.raster) || r.raster < 1) {
                    error = "bad raster number '" + range + "'";
                    return false;
                }
            } else if (dash == std::string::npos) {
                if (!parseNumber(range, r.first)) {
                    error = "bad query number '" + range + "'";
                    return false;
                }
                r.last = r.first;
            } else {
                std::string a = trim(range.substr(0, dash));
                std::string b = trim(range.substr(dash + 1));
                if (!parseNumber(a, r.first) || (!b.empty() && !parseNumber(b, r.last))) {
                    error = "bad query range '" + range + "'";
                    return false;
                }
                if (b.empty()) r.last = -1;
            }
            if (r.first < 1 || (r.last != -1 && r.last < r.first)) {
                error = "bad query range '" + range + "'";
                return false;
            }
        }
        if (!parseAnswer(answerText, r.answer, error)) return false;
        if (ranged)
            rules_.push_back(r);
        else
            fallback_ = r.answer;
    }
    return true;
}

Answer StatusScript::answerFor(long n, long afterRaster) const {
    for (const auto& r : rules_)
        if (afterRaster > 0 && r.raster == afterRaster) return r.answer;
    for (const auto& r : rules_)
        if (r.raster == 0 && n >= r.first && (r.last == -1 || n <= r.last)) return r.answer;
    return fallback_;
}

bool statusIsError(std::uint8_t status) {
    return (status & 0x04) || (status & 0x10) || !(status & 0x20);
}

std::string describeStatus(std::uint8_t status) {
    std::string s;
    auto add = [&](const char* w) {
        if (!s.empty()) s += ", ";
        s += w;
    };
    if (status & 0x04) add("cover open");
    if (!(status & 0x20)) add("paper out");
    if (status & 0x10) add("overheating");
    if (status & 0x80) add("skewed");
    if (s.empty()) s = "ready";
    return s;
}

}  // namespace zsim
