#include "SimScript.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <limits>
#include <sstream>

namespace vazsim {

ScriptError::ScriptError(const std::string& file, int line, const std::string& reason)
    : std::runtime_error(file + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + reason),
      file_(file), line_(line), reason_(reason) {}

namespace {

constexpr std::int64_t kMaxMs = 1000LL * 60 * 60 * 24 * 365; // one year is plenty for any delay
constexpr int kMaxDecimals = 9;

struct Token {
    std::string text;
    bool quoted = false;
};

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

class Parser {
public:
    Parser(std::string_view text, std::string file) : text_(text), file_(std::move(file)) {
        if (text_.starts_with("\xEF\xBB\xBF")) // a byte-order mark left by some Windows editors
            text_.remove_prefix(3);
    }

    Script run() {
        Script script;
        script.file = file_;
        std::size_t pos = 0;
        while (pos <= text_.size()) {
            std::size_t end = text_.find('\n', pos);
            if (end == std::string_view::npos)
                end = text_.size();
            ++line_;
            tokens_ = tokenize(text_.substr(pos, end - pos));
            if (!tokens_.empty())
                statement(script);
            pos = end + 1;
        }
        if (!blocks_.empty())
            fail(blocks_.back().line, "'" + blocks_.back().keyword + "' is not closed with 'end'");
        if (script.ports.empty())
            fail(line_, "the script defines no port (start one with 'port NAME')");
        return script;
    }

private:
    struct Block {
        std::vector<Statement>* body;
        std::string keyword;
        int line;
    };

    [[noreturn]] void fail(const std::string& reason) const { throw ScriptError(file_, line_, reason); }
    [[noreturn]] void fail(int line, const std::string& reason) const {
        throw ScriptError(file_, line, reason);
    }

    std::vector<Token> tokenize(std::string_view s) {
        std::vector<Token> out;
        std::size_t i = 0;
        while (i < s.size()) {
            unsigned char c = static_cast<unsigned char>(s[i]);
            if (c == ' ' || c == '\t' || c == '\r') {
                ++i;
                continue;
            }
            if (c == '#')
                break;
            if (c == '"') {
                Token t;
                t.quoted = true;
                ++i;
                bool closed = false;
                while (i < s.size()) {
                    char d = s[i];
                    if (d == '"') {
                        closed = true;
                        ++i;
                        break;
                    }
                    if (d == '\\') {
                        if (i + 1 >= s.size())
                            fail("a backslash ends the line inside a quoted text");
                        // Escapes are kept as written here and decoded by the user of the text, so that
                        // "\{" can be told apart from a value placeholder.
                        t.text += d;
                        t.text += s[i + 1];
                        i += 2;
                        continue;
                    }
                    t.text += d;
                    ++i;
                }
                if (!closed)
                    fail("a quoted text is not closed (missing '\"')");
                out.push_back(std::move(t));
                continue;
            }
            Token t;
            while (i < s.size() && s[i] != ' ' && s[i] != '\t' && s[i] != '\r' && s[i] != '#') {
                if (s[i] == '"')
                    fail("a quote '\"' in the middle of a word: put a blank before the quoted text");
                t.text += s[i++];
            }
            out.push_back(std::move(t));
        }
        return out;
    }

    // Decodes the escapes of a quoted text into bytes; with `pieces` also splits out {value} placeholders.
    std::vector<Piece> decode(const Token& t, const PortDescription* port) {
        std::vector<Piece> pieces(1);
        const std::string& s = t.text;
        for (std::size_t i = 0; i < s.size(); ++i) {
            char c = s[i];
            if (c == '\\') {
                char e = s[++i];
                switch (e) {
                case 'r':
                    pieces.back().literal += '\r';
                    break;
                case 'n':
                    pieces.back().literal += '\n';
                    break;
                case 't':
                    pieces.back().literal += '\t';
                    break;
                case '0':
                    pieces.back().literal += '\0';
                    break;
                case 'e':
                    pieces.back().literal += '\x1b';
                    break;
                case '\\':
                case '"':
                case '{':
                case '}':
                    pieces.back().literal += e;
                    break;
                case 'x': {
                    auto hex = [](char h) -> int {
                        if (h >= '0' && h <= '9')
                            return h - '0';
                        h = char(std::tolower(static_cast<unsigned char>(h)));
                        if (h >= 'a' && h <= 'f')
                            return h - 'a' + 10;
                        return -1;
                    };
                    int hi = i + 1 < s.size() ? hex(s[i + 1]) : -1;
                    int lo = i + 2 < s.size() ? hex(s[i + 2]) : -1;
                    if (hi < 0 || lo < 0)
                        fail("'\\x' must be followed by two hexadecimal digits, as in \\x02");
                    pieces.back().literal += char(hi * 16 + lo);
                    i += 2;
                    break;
                }
                default:
                    fail(std::string("unknown escape '\\") + e +
                         "' (known: \\r \\n \\t \\0 \\e \\xHH \\\\ \\\" \\{ \\})");
                }
                continue;
            }
            if (c == '{') {
                std::size_t close = s.find('}', i);
                if (close == std::string::npos)
                    fail("a '{' placeholder is not closed with '}' (write \\{ for a literal brace)");
                if (!port)
                    fail("value placeholders like {w} are not allowed here");
                std::string inner = s.substr(i + 1, close - i - 1);
                Piece p;
                std::string name = inner, fmt;
                if (auto colon = inner.find(':'); colon != std::string::npos) {
                    name = inner.substr(0, colon);
                    fmt = inner.substr(colon + 1);
                }
                auto it = std::find_if(port->values.begin(), port->values.end(),
                                       [&](const ValueSpec& v) { return v.name == name; });
                if (it == port->values.end())
                    fail("value '" + name + "' is not declared (declare it with 'value " + name +
                         " START ...' before its first use)");
                p.value = int(it - port->values.begin());
                std::size_t k = 0;
                while (k < fmt.size() && (fmt[k] == '+' || fmt[k] == '0')) {
                    (fmt[k] == '+' ? p.plusSign : p.zeroPad) = true;
                    ++k;
                }
                std::string w = fmt.substr(k);
                if (!w.empty()) {
                    if (w.size() > 2 || !std::all_of(w.begin(), w.end(), ::isdigit))
                        fail("bad format '" + fmt + "' in {" + inner + "}: expected [+][0]WIDTH, as in {" +
                             name + ":+9}");
                    p.width = std::stoi(w);
                }
                pieces.push_back(p);
                pieces.emplace_back();
                i = close;
                continue;
            }
            if (c == '}')
                fail("a '}' without '{' (write \\} for a literal brace)");
            pieces.back().literal += c;
        }
        std::erase_if(pieces, [](const Piece& p) { return p.value < 0 && p.literal.empty(); });
        return pieces;
    }

    std::string plainText(const Token& t) {
        std::string out;
        for (const Piece& p : decode(t, nullptr))
            out += p.literal;
        return out;
    }

    std::string word(std::size_t i, const char* what) {
        if (i >= tokens_.size())
            fail(std::string("missing ") + what);
        return tokens_[i].quoted ? plainText(tokens_[i]) : tokens_[i].text;
    }

    void noMore(std::size_t i) {
        if (i < tokens_.size())
            fail("unexpected '" + tokens_[i].text + "' after '" + tokens_[0].text + "'");
    }

    static bool isDigits(std::string_view s) {
        return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    }

    std::int64_t integer(const std::string& s, const char* what, std::int64_t lo, std::int64_t hi) {
        if (!isDigits(s) || s.size() > 12)
            fail(std::string("bad ") + what + " '" + s + "': expected a whole number");
        std::int64_t v = std::stoll(s);
        if (v < lo || v > hi)
            fail(std::string(what) + " " + s + " is out of range (" + std::to_string(lo) + " to " +
                 std::to_string(hi) + ")");
        return v;
    }

    // "250ms", "2s", "1.5s", "0ms".
    std::int64_t duration(const std::string& s) {
        std::string num;
        std::int64_t scale;
        if (s.size() > 2 && s.ends_with("ms")) {
            num = s.substr(0, s.size() - 2);
            scale = 1;
        } else if (s.size() > 1 && s.ends_with("s")) {
            num = s.substr(0, s.size() - 1);
            scale = 1000;
        } else {
            fail("bad duration '" + s + "': write a number with the unit ms or s, as in 250ms or 1.5s");
        }
        std::string whole = num, frac;
        if (auto dot = num.find('.'); dot != std::string::npos) {
            whole = num.substr(0, dot);
            frac = num.substr(dot + 1);
        }
        if (!isDigits(whole) || (num.find('.') != std::string::npos && !isDigits(frac)) || whole.size() > 11)
            fail("bad duration '" + s + "': write a number with the unit ms or s, as in 250ms or 1.5s");
        std::int64_t ms = std::stoll(whole) * scale;
        if (!frac.empty()) {
            if (scale == 1)
                fail("bad duration '" + s + "': milliseconds are whole numbers");
            if (frac.size() > 3)
                fail("bad duration '" + s + "': at most three decimals of a second");
            while (frac.size() < 3)
                frac += '0';
            ms += std::stoll(frac);
        }
        if (ms > kMaxMs)
            fail("duration '" + s + "' is longer than a year");
        return ms;
    }

    // A decimal number, scaled to `decimals` places (or to its own places when decimals < 0).
    std::int64_t decimal(const std::string& s, int& decimals, const char* what) {
        std::string t = s;
        bool neg = false;
        if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
            neg = t[0] == '-';
            t = t.substr(1);
        }
        std::string whole = t, frac;
        bool dot = false;
        if (auto d = t.find('.'); d != std::string::npos) {
            whole = t.substr(0, d);
            frac = t.substr(d + 1);
            dot = true;
        }
        if (whole.empty() && frac.empty())
            fail(std::string("bad ") + what + " '" + s + "': expected a decimal number such as 12.345");
        if ((!whole.empty() && !isDigits(whole)) || (dot && !isDigits(frac)))
            fail(std::string("bad ") + what + " '" + s + "': expected a decimal number such as 12.345");
        if (decimals < 0)
            decimals = int(frac.size());
        if (int(frac.size()) > decimals)
            fail(std::string(what) + " '" + s + "' has more decimals than the start value (" +
                 std::to_string(decimals) + ")");
        if (decimals > kMaxDecimals)
            fail(std::string(what) + " '" + s + "' has more than " + std::to_string(kMaxDecimals) +
                 " decimals");
        while (int(frac.size()) < decimals)
            frac += '0';
        std::string digits = (whole.empty() ? std::string("0") : whole) + frac;
        digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
        if (digits.size() > 17)
            fail(std::string(what) + " '" + s + "' is too large");
        std::int64_t v = std::stoll(digits);
        return neg ? -v : v;
    }

    Payload payload(std::size_t& i, PortDescription& port) {
        if (i >= tokens_.size() || !tokens_[i].quoted)
            fail("'" + tokens_[0].text + "' needs a quoted text to send, as in \"12.5 g\\r\\n\"");
        Payload p;
        p.pieces = decode(tokens_[i], &port);
        ++i;
        while (i < tokens_.size()) {
            const std::string& opt = tokens_[i].text;
            if (tokens_[i].quoted)
                fail("unexpected second text \"" + opt + "\"; join the texts into one");
            std::string key = opt, val;
            if (auto eq = opt.find('='); eq != std::string::npos) {
                key = opt.substr(0, eq);
                val = opt.substr(eq + 1);
            }
            std::uint8_t flag;
            if (key == "parity-error")
                flag = FlagParity;
            else if (key == "framing-error")
                flag = FlagFraming;
            else if (key == "overrun")
                flag = FlagOverrun;
            else if (key == "break")
                flag = FlagBreak;
            else if (key == "after" || key == "send")
                break; // belongs to the caller
            else
                fail("unknown option '" + opt + "' (known: parity-error, framing-error, overrun, break)");
            if (val.empty() && opt.find('=') == std::string::npos) {
                p.errors.push_back({0, flag});
            } else {
                std::stringstream ss(val);
                std::string idx;
                bool any = false;
                while (std::getline(ss, idx, ',')) {
                    p.errors.push_back({std::size_t(integer(idx, "byte position", 0, 1000000)), flag});
                    any = true;
                }
                if (!any)
                    fail("'" + opt + "' needs byte positions, as in " + key + "=0,3");
            }
            ++i;
        }
        return p;
    }

    PortDescription& currentPort(Script& script, const std::string& keyword) {
        if (script.ports.empty())
            fail("'" + keyword + "' must follow a 'port NAME' line");
        return script.ports.back();
    }

    std::vector<Statement>& body(Script& script, const std::string& keyword) {
        PortDescription& port = currentPort(script, keyword);
        std::vector<Statement>& b = blocks_.empty() ? port.program : *blocks_.back().body;
        if (!b.empty()) {
            const Statement& last = b.back();
            if (last.kind == Statement::Loop)
                fail("'" + keyword + "' is never reached: the endless 'loop'/'every' on line " +
                     std::to_string(last.line) + " runs before it");
            if (last.kind == Statement::Unplug)
                fail("'" + keyword + "' is never reached: the port is unplugged on line " +
                     std::to_string(last.line));
        }
        return b;
    }

    void attributeOnly(const std::string& keyword) {
        if (!blocks_.empty())
            fail("'" + keyword + "' describes the port and cannot stand inside '" + blocks_.back().keyword +
                 "'");
    }

    static bool hasWait(const std::vector<Statement>& b) {
        for (const Statement& s : b) {
            if (s.kind == Statement::Wait && s.ms > 0)
                return true;
            if ((s.kind == Statement::Repeat || s.kind == Statement::Loop) && hasWait(s.body))
                return true;
        }
        return false;
    }

    LineMode lineMode(const std::string& key, const std::string& v) {
        if (v == "high" || v == "on")
            return LineMode::High;
        if (v == "low" || v == "off")
            return LineMode::Low;
        if (v == "dtr")
            return LineMode::FollowDtr;
        if (v == "rts")
            return LineMode::FollowRts;
        fail("bad value '" + v + "' for " + key + ": use high, low, dtr or rts");
    }

    void statement(Script& script) {
        const std::string kw = lower(tokens_[0].text);
        if (tokens_[0].quoted)
            fail("a line must begin with a keyword, not with a quoted text");
        if (kw == "port") {
            if (!blocks_.empty())
                fail(blocks_.back().line, "'" + blocks_.back().keyword + "' is not closed with 'end'");
            PortDescription p;
            p.name = word(1, "port name after 'port'");
            if (p.name.empty())
                fail("the port name is empty");
            for (const PortDescription& q : script.ports)
                if (lower(q.name) == lower(p.name))
                    fail("port '" + p.name + "' is defined twice (first on line " + std::to_string(q.line) +
                         ")");
            noMore(2);
            p.line = line_;
            p.description = "Simulated instrument";
            p.manufacturer = "Vornal simulator";
            std::uint64_t h = 1469598103934665603ULL;
            for (char c : p.name)
                h = (h ^ std::uint8_t(c)) * 1099511628211ULL;
            p.seed = h;
            script.ports.push_back(std::move(p));
            return;
        }
        if (kw == "description" || kw == "manufacturer") {
            PortDescription& p = currentPort(script, kw);
            attributeOnly(kw);
            (kw == "description" ? p.description : p.manufacturer) = word(1, "text");
            noMore(2);
            return;
        }
        if (kw == "modem") {
            PortDescription& p = currentPort(script, kw);
            attributeOnly(kw);
            if (tokens_.size() < 2)
                fail("'modem' needs settings such as dsr=dtr cts=rts, or 'none' or 'high'");
            for (std::size_t i = 1; i < tokens_.size(); ++i) {
                std::string t = lower(tokens_[i].text);
                if (t == "none") {
                    p.modem = {LineMode::Low, LineMode::Low, LineMode::Low, LineMode::Low};
                    continue;
                }
                if (t == "high") {
                    p.modem = {LineMode::High, LineMode::High, LineMode::High, LineMode::Low};
                    continue;
                }
                auto eq = t.find('=');
                if (eq == std::string::npos)
                    fail("bad modem setting '" + tokens_[i].text + "': expected LINE=MODE such as dsr=dtr");
                std::string key = t.substr(0, eq), val = t.substr(eq + 1);
                LineMode m = lineMode(key, val);
                if (key == "dsr")
                    p.modem.dsr = m;
                else if (key == "cts")
                    p.modem.cts = m;
                else if (key == "cd" || key == "dcd")
                    p.modem.cd = m;
                else if (key == "ri" || key == "ring")
                    p.modem.ri = m;
                else
                    fail("unknown modem line '" + key + "' (known: dsr, cts, cd, ri)");
            }
            return;
        }
        if (kw == "in-use") {
            PortDescription& p = currentPort(script, kw);
            attributeOnly(kw);
            noMore(1);
            p.openError = 1002;
            return;
        }
        if (kw == "open-error") {
            PortDescription& p = currentPort(script, kw);
            attributeOnly(kw);
            p.openError = int(integer(word(1, "error code after 'open-error'"), "error code", 1, 99999));
            noMore(2);
            return;
        }
        if (kw == "record") {
            PortDescription& p = currentPort(script, kw);
            attributeOnly(kw);
            p.recordPath = word(1, "file name after 'record'");
            if (p.recordPath.empty())
                fail("the file name after 'record' is empty");
            noMore(2);
            return;
        }
        if (kw == "echo") {
            PortDescription& p = currentPort(script, kw);
            attributeOnly(kw);
            noMore(1);
            p.echo = true;
            return;
        }
        if (kw == "seed") {
            PortDescription& p = currentPort(script, kw);
            attributeOnly(kw);
            p.seed = std::uint64_t(integer(word(1, "number after 'seed'"), "seed", 0, 999999999999));
            noMore(2);
            return;
        }
        if (kw == "gate") {
            PortDescription& p = currentPort(script, kw);
            attributeOnly(kw);
            if (tokens_.size() < 2)
                fail("'gate' needs the lines the instrument waits for: dtr, rts or both");
            for (std::size_t i = 1; i < tokens_.size(); ++i) {
                std::string t = lower(tokens_[i].text);
                if (t == "dtr")
                    p.gateDtr = true;
                else if (t == "rts")
                    p.gateRts = true;
                else
                    fail("bad gate line '" + tokens_[i].text + "': use dtr or rts");
            }
            return;
        }
        if (kw == "settings") {
            PortDescription& p = currentPort(script, kw);
            attributeOnly(kw);
            p.settings.bitRate = integer(word(1, "bit rate after 'settings', as in settings 2400 7E1"),
                                         "bit rate", 50, 4000000);
            const std::string frame = word(2, "frame after the bit rate, as in settings 2400 7E1");
            static const std::string parities = "NOEMS";
            std::string f = frame;
            for (char& c : f)
                c = char(std::toupper(static_cast<unsigned char>(c)));
            if (f.size() != 3 || f[0] < '5' || f[0] > '8' || parities.find(f[1]) == std::string::npos ||
                (f[2] != '1' && f[2] != '2'))
                fail("bad frame '" + frame +
                     "': data bits 5-8, parity N, O, E, M or S, stop bits 1 or 2, as in 7E1");
            p.settings.dataBits = f[0] - '0';
            p.settings.parity = int(parities.find(f[1]));
            p.settings.stopBits = f[2] - '0';
            p.hasSettings = true;
            noMore(3);
            return;
        }
        if (kw == "value") {
            PortDescription& p = currentPort(script, kw);
            attributeOnly(kw);
            ValueSpec v;
            v.name = word(1, "value name after 'value'");
            if (v.name.empty() || !std::all_of(v.name.begin(), v.name.end(), [](char c) {
                    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
                }))
                fail("bad value name '" + v.name + "': use letters, digits and '_'");
            for (const ValueSpec& o : p.values)
                if (o.name == v.name)
                    fail("value '" + v.name + "' is declared twice");
            v.decimals = -1;
            v.start = decimal(word(2, "start value after the value name"), v.decimals, "start value");
            for (std::size_t i = 3; i < tokens_.size(); ++i) {
                const std::string& opt = tokens_[i].text;
                auto eq = opt.find('=');
                if (eq == std::string::npos)
                    fail("bad value option '" + opt + "': expected drift=, step=, min= or max=");
                std::string key = opt.substr(0, eq), val = opt.substr(eq + 1);
                std::int64_t n = decimal(val, v.decimals, key.c_str());
                if (key == "drift") {
                    if (n < 0)
                        fail("drift must not be negative");
                    v.drift = n;
                } else if (key == "step") {
                    v.step = n;
                } else if (key == "min") {
                    v.hasMin = true;
                    v.min = n;
                } else if (key == "max") {
                    v.hasMax = true;
                    v.max = n;
                } else {
                    fail("unknown value option '" + key + "' (known: drift, step, min, max)");
                }
            }
            if (v.hasMin && v.hasMax && v.min > v.max)
                fail("min is above max for value '" + v.name + "'");
            p.values.push_back(std::move(v));
            return;
        }
        if (kw == "on") {
            PortDescription& p = currentPort(script, kw);
            attributeOnly(kw);
            if (tokens_.size() < 2 || !tokens_[1].quoted)
                fail("'on' needs the quoted text the program writes, as in on \"P\\r\\n\" send \"...\"");
            ReplyRule r;
            r.trigger = plainText(tokens_[1]);
            if (r.trigger.empty())
                fail("the text after 'on' is empty");
            std::size_t i = 2;
            if (i < tokens_.size() && tokens_[i].text == "after") {
                r.delayMs = duration(word(i + 1, "duration after 'after'"));
                i += 2;
            }
            if (i >= tokens_.size() || tokens_[i].quoted || tokens_[i].text != "send")
                fail("'on \"...\"' must be followed by [after DURATION] send \"TEXT\"");
            ++i;
            r.reply = payload(i, p);
            noMore(i);
            p.replies.push_back(std::move(r));
            return;
        }
        if (kw == "replug") {
            if (tokens_.size() < 2 || tokens_[1].text != "after")
                fail("'replug' must be followed by after DURATION");
            PortDescription& p = currentPort(script, kw);
            attributeOnly("replug after");
            p.replugScheduled = true;
            p.replugAfterMs = duration(word(2, "duration after 'replug after'"));
            noMore(3);
            return;
        }
        if (kw == "unplug") {
            if (tokens_.size() >= 2 && tokens_[1].text == "after") {
                PortDescription& p = currentPort(script, kw);
                attributeOnly("unplug after");
                p.unplugScheduled = true;
                p.unplugAfterMs = duration(word(2, "duration after 'unplug after'"));
                noMore(3);
                return;
            }
            noMore(1);
            Statement s;
            s.kind = Statement::Unplug;
            s.line = line_;
            body(script, kw).push_back(std::move(s));
            return;
        }
        if (kw == "wait") {
            Statement s;
            s.kind = Statement::Wait;
            s.line = line_;
            s.ms = duration(word(1, "duration after 'wait'"));
            noMore(2);
            body(script, kw).push_back(std::move(s));
            return;
        }
        if (kw == "send") {
            auto& b = body(script, kw);
            Statement s;
            s.kind = Statement::Send;
            s.line = line_;
            std::size_t i = 1;
            s.payload = payload(i, script.ports.back());
            noMore(i);
            b.push_back(std::move(s));
            return;
        }
        if (kw == "every") {
            auto& b = body(script, kw);
            Statement loop;
            loop.kind = Statement::Loop;
            loop.line = line_;
            Statement w;
            w.kind = Statement::Wait;
            w.line = line_;
            w.ms = duration(word(1, "duration after 'every'"));
            if (w.ms <= 0)
                fail("'every' needs a duration above zero");
            if (tokens_.size() < 3 || tokens_[2].text != "send")
                fail("'every DURATION' must be followed by send \"TEXT\"");
            Statement s;
            s.kind = Statement::Send;
            s.line = line_;
            std::size_t i = 3;
            s.payload = payload(i, script.ports.back());
            noMore(i);
            loop.body.push_back(std::move(w));
            loop.body.push_back(std::move(s));
            b.push_back(std::move(loop));
            return;
        }
        if (kw == "repeat" || kw == "loop") {
            auto& b = body(script, kw);
            Statement s;
            s.line = line_;
            if (kw == "repeat") {
                s.kind = Statement::Repeat;
                s.count = integer(word(1, "count after 'repeat'"), "repeat count", 1, 1000000000);
                noMore(2);
            } else {
                s.kind = Statement::Loop;
                noMore(1);
            }
            b.push_back(std::move(s));
            blocks_.push_back({&b.back().body, kw, line_});
            return;
        }
        if (kw == "end") {
            noMore(1);
            if (blocks_.empty())
                fail("'end' without 'repeat' or 'loop'");
            Block blk = blocks_.back();
            blocks_.pop_back();
            if (blk.body->empty())
                fail(blk.line, "'" + blk.keyword + "' has nothing inside");
            if (blk.keyword == "loop" && !hasWait(*blk.body))
                fail(blk.line,
                     "'loop' needs a 'wait' with a duration above zero inside, or it would never end");
            return;
        }
        fail("unknown keyword '" + tokens_[0].text +
             "' (known: port, description, manufacturer, modem, in-use, open-error, unplug, replug, record, "
             "echo, "
             "gate, "
             "seed, settings, value, on, wait, send, every, repeat, loop, end)");
    }

    std::string_view text_;
    std::string file_;
    int line_ = 0;
    std::vector<Token> tokens_;
    std::vector<Block> blocks_;
};

} // namespace

Script parseScript(std::string_view text, const std::string& file) {
    return Parser(text, file).run();
}

Script loadScript(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw ScriptError(path, 0,
                          "cannot read the simulator script (check the file name in VAZ_SIM_SCRIPT)");
    std::ostringstream ss;
    ss << in.rdbuf();
    if (in.bad())
        throw ScriptError(path, 0, "reading the simulator script failed");
    return parseScript(ss.str(), path);
}

std::string formatValue(std::int64_t scaled, int decimals, bool plusSign, bool zeroPad, int width) {
    bool neg = scaled < 0;
    std::uint64_t mag = neg ? std::uint64_t(0) - std::uint64_t(scaled) : std::uint64_t(scaled);
    std::string digits = std::to_string(mag);
    if (decimals > 0) {
        if (int(digits.size()) <= decimals)
            digits.insert(0, std::size_t(decimals + 1 - int(digits.size())), '0');
        digits.insert(digits.size() - std::size_t(decimals), 1, '.');
    }
    std::string sign = neg ? "-" : (plusSign ? "+" : "");
    int pad = width - int(sign.size() + digits.size());
    if (pad <= 0)
        return sign + digits;
    if (plusSign || zeroPad)
        return sign + std::string(std::size_t(pad), zeroPad ? '0' : ' ') + digits;
    return std::string(std::size_t(pad), ' ') + sign + digits;
}

const char* builtinScriptText() {
    return R"vsim(# Built-in demo instruments of the Vornal simulator.

# A scale that sends its weight a few times a second; the weight drifts a little.
# Lines end with CR: preset "Generic (any scale)" (GENERIC, the default).
port SIM1
description "Simulated scale"
manufacturer "Vornal simulator"
modem dsr=high cts=high
value w 12.345 drift=0.004 min=0 max=30
every 300ms send "ST,GS,{w:+9} kg\r"

# A barcode scanner: a few EAN-13 codes, one every two seconds, over and over.
# Lines end with CR: preset "Barcode reader (numeric)" (BARCODE).
port SIM2
description "Simulated barcode scanner"
manufacturer "Vornal simulator"
modem dsr=high cts=high
loop
  wait 2s
  send "4006381333931\r"
  wait 2s
  send "9780201633610\r"
  wait 2s
  send "5012345678900\r"
end

# An A&D-style balance at 2400/7/E/1 with handshake: DSR follows DTR, CTS follows RTS,
# and it sends only while the computer holds DTR and RTS high.
# Lines end with LF: preset "A&D" (AND) with its port settings (the Defaults button).
port SIM3
description "Simulated handshaking balance"
manufacturer "Vornal simulator"
settings 2400 7E1
modem dsr=dtr cts=rts
gate dtr rts
value w 101.25 drift=0.03 min=0
every 500ms send "ST, {w:+09} g\n"
)vsim";
}

Script builtinScript() {
    return parseScript(builtinScriptText(), "(built-in demo)");
}

} // namespace vazsim
