#include "quillnest/Options.hpp"

#include "joblark/Foundation/FileLocations.hpp"
#include "joblark/Foundation/URL.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace quillnest {

namespace {

std::optional<double> parseDouble(const std::string& text) {
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

template <class Int>
std::optional<Int> parseInteger(const std::string& text) {
    Int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

/// "host:port", "[v6]:port" or ":port".
bool parseListen(const std::string& text, ServiceOptions& options) {
    std::string host;
    std::string port;
    if (!text.empty() && text.front() == '[') {
        auto close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return false;
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else {
        auto colon = text.rfind(':');
        if (colon == std::string::npos)
            return false;
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (host.find(':') != std::string::npos)
            return false;
    }
    auto number = parseInteger<int>(port);
    if (!number || *number < 0 || *number > 65535)
        return false;
    options.host = host.empty() ? "127.0.0.1" : host;
    options.port = *number;
    return true;
}

} // namespace

std::string usage() {
    return "Usage: quillnest-local [options]\n"
           "A local Quillnest monitoring service.\n\n"
           "  --listen HOST:PORT       address to serve on (default 127.0.0.1:8787; port 0 picks one)\n"
           "  --db PATH                SQLite database (default "
           "$XDG_DATA_HOME/quillnest-local/quillnest.sqlite3)\n"
           "  --demo                   seed the demo account demo@quillnest.local / kestrova and its "
           "resources\n"
           "  --probe-interval SECONDS seconds between probe rounds (default 60)\n"
           "  --public-url URL         origin written into resource URLs (default the listen address)\n"
           "  --endpoint-limit N       endpoints an account may create (default 50)\n"
           "  --faults[=RATE]          replace a share of API answers (default 0.2) with errors, slow "
           "bodies\n"
           "                           or dropped connections, for testing clients\n"
           "  --faults-seed N          seed of the fault choice, for repeatable runs\n"
           "  --no-probe               do not probe endpoints\n"
           "  --help, --version\n";
}

std::filesystem::path defaultDatabasePath() {
    std::filesystem::path base;
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg && std::filesystem::path(xdg).is_absolute())
        base = xdg;
    else
        base = joblark::FileLocations::homeDirectory() / ".local" / "share";
    return base / "quillnest-local" / "quillnest.sqlite3";
}

std::variant<CommandLine, std::string> parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine result;
    auto& o = result.options;
    bool databaseGiven = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string arg = arguments[i];
        std::optional<std::string> inlineValue;
        if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
        }
        auto value = [&]() -> std::optional<std::string> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 < arguments.size())
                return arguments[++i];
            return std::nullopt;
        };
        auto missing = [&] { return arg + " needs a value"; };
        if (arg == "--help" || arg == "-h") {
            result.text = usage();
            return result;
        }
        if (arg == "--version") {
            result.text = "quillnest-local 0.1.0\n";
            return result;
        }
        if (arg == "--demo") {
            o.demo = true;
        } else if (arg == "--no-probe") {
            o.prober = false;
        } else if (arg == "--listen") {
            auto v = value();
            if (!v)
                return missing();
            if (!parseListen(*v, o))
                return "--listen takes HOST:PORT, for example 127.0.0.1:8787";
        } else if (arg == "--db") {
            auto v = value();
            if (!v || v->empty())
                return missing();
            o.databasePath = *v;
            databaseGiven = true;
        } else if (arg == "--probe-interval") {
            auto v = value();
            if (!v)
                return missing();
            auto seconds = parseDouble(*v);
            if (!seconds || *seconds < 1 || *seconds > 86400)
                return "--probe-interval takes seconds from 1 to 86400";
            o.probing.interval = *seconds;
        } else if (arg == "--public-url") {
            auto v = value();
            if (!v)
                return missing();
            auto url = joblark::URL::parse(*v);
            if (!url || (url->scheme() != "http" && url->scheme() != "https") || !url->host() ||
                (url->path() != "" && url->path() != "/") || url->query())
                return "--public-url takes an http or https origin, for example http://127.0.0.1:8787";
            o.publicUrl = *v;
        } else if (arg == "--endpoint-limit") {
            auto v = value();
            auto n = v ? parseInteger<std::int64_t>(*v) : std::nullopt;
            if (!n || *n < 0 || *n > 100000)
                return "--endpoint-limit takes a number from 0 to 100000";
            o.endpointLimit = *n;
        } else if (arg == "--faults") {
            o.faults.rate = 0.2;
            if (inlineValue) {
                auto rate = parseDouble(*inlineValue);
                if (!rate || *rate < 0 || *rate > 1)
                    return "--faults takes a share from 0 to 1, for example --faults=0.3";
                o.faults.rate = *rate;
            }
        } else if (arg == "--faults-seed") {
            auto v = value();
            auto n = v ? parseInteger<std::uint64_t>(*v) : std::nullopt;
            if (!n)
                return "--faults-seed takes a whole number";
            o.faults.seed = *n;
        } else {
            return "Unknown option " + arguments[i] + "\n\n" + usage();
        }
    }
    if (!databaseGiven)
        o.databasePath = defaultDatabasePath();
    return result;
}

} // namespace quillnest
