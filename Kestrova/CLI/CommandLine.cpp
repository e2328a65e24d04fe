#include "CLI/CommandLine.hpp"
#include "Service/ServiceURLs.hpp"

#include "Forms/AddEndpointForm.hpp"
#include "Presentation/StatusPresentation.hpp"
#include "State/AppStateController.hpp"
#include "State/RefreshInterval.hpp"

#include "joblark/Foundation/DateFormatter.hpp"
#include "joblark/Foundation/ISO8601.hpp"
#include "joblark/Foundation/JSON.hpp"
#include "joblark/Foundation/MainThread.hpp"
#include "joblark/Foundation/NotificationCenter.hpp"
#include "joblark/Foundation/RunLoop.hpp"
#include "joblark/Foundation/UserDefaults.hpp"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>

#include <sys/stat.h>

namespace kestrova::cli {
namespace {

using namespace std::chrono_literals;
using joblark::ErrorPtr;

/// Longer than the URL session's own request time-out, so a request always ends first.
constexpr auto kOperationDeadline = 90s;

struct Outcome {
    bool done = false;
    bool ok = false;
    ErrorPtr error;
};

/// Starts an operation with a completion and services the main run loop until it is called.
Outcome await(const std::function<void(AppStateController::Completion)>& start) {
    auto outcome = std::make_shared<Outcome>();
    start([outcome](bool ok, ErrorPtr error) {
        outcome->done = true;
        outcome->ok = ok;
        outcome->error = std::move(error);
    });
    joblark::RunLoop::main()->runUntil([&] { return outcome->done; },
                                       std::chrono::steady_clock::now() + kOperationDeadline);
    if (!outcome->done)
        outcome->error = std::make_shared<joblark::GenericError>("The service did not answer in time.");
    return *outcome;
}

std::string describe(const ErrorPtr& error, const std::string& fallback) {
    return error ? error->localizedDescription() : fallback;
}

int exitFor(OverallStatus status) {
    switch (status) {
    case OverallStatus::ok:
        return allOk;
    case OverallStatus::degraded:
        return degraded;
    case OverallStatus::down:
        return down;
    }
    return unavailable;
}

std::string upper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

std::string colourFor(HistoryTile tile) {
    switch (tile) {
    case HistoryTile::ok:
        return "\033[42m";
    case HistoryTile::down:
        return "\033[41m";
    case HistoryTile::degraded:
        return "\033[48;5;208m";
    case HistoryTile::unknown:
        return "\033[47m";
    case HistoryTile::placeholder:
        break;
    }
    return "";
}

char symbolFor(HistoryTile tile) {
    switch (tile) {
    case HistoryTile::ok:
        return '+';
    case HistoryTile::down:
        return 'x';
    case HistoryTile::degraded:
        return '~';
    case HistoryTile::unknown:
        return '?';
    case HistoryTile::placeholder:
        break;
    }
    return '.';
}

std::string bar(const HistoryTiles& tiles, bool colour) {
    std::string out;
    for (HistoryTile tile : tiles) {
        if (colour && tile != HistoryTile::placeholder)
            out += colourFor(tile) + " \033[0m";
        else if (colour)
            out += "\033[2m\u00b7\033[0m";
        else
            out += symbolFor(tile);
    }
    return out;
}

std::string timeOfDay(const std::optional<joblark::Date>& date) {
    if (!date)
        return "never";
    static const joblark::DateFormatter formatter(joblark::DateStyle::none, joblark::DateStyle::shortStyle);
    return formatter.string(*date);
}

/// `text` right-aligned in `width` columns; counts characters, not bytes, so "–" lines up too.
std::string rightAligned(const std::string& text, std::size_t width) {
    const auto columns = static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
    return std::string(width > columns ? width - columns : 0, ' ') + text;
}

/// An unknown uptime is no number: null for scripts.
joblark::Value uptimeValue(const std::string& text) {
    return text == unknownUptime ? joblark::Value() : joblark::Value(text);
}

template <class Status>
std::string statusText(const std::optional<Status>& status) {
    return status ? std::string(rawValue(*status)) : "unknown";
}

/// The cache file's time, for the offline notice.
std::optional<joblark::Date> cacheTime(const std::filesystem::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0)
        return std::nullopt;
    return joblark::Date::fromTimeIntervalSince1970(static_cast<double>(info.st_mtim.tv_sec) +
                                                    static_cast<double>(info.st_mtim.tv_nsec) / 1e9);
}

/// An endpoint or a measure found by id, unique id prefix or exact name.
struct Resource {
    std::shared_ptr<Endpoint> endpoint;
    std::shared_ptr<Measure> measure;
    std::string name() const {
        auto n = endpoint ? endpoint->name : measure->name;
        return n.value_or("(unnamed)");
    }
    std::optional<joblark::URL> url() const { return endpoint ? endpoint->url : measure->url; }
};

class Session {
public:
    explicit Session(Terminal& terminal) : t_(terminal), controller_(AppStateController::shared()) {}

    int dispatch(const std::vector<std::string>& args) {
        const std::string& command = args.front();
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        // Signing in or out replaces the cache; every other command shows or uses what it held.
        if (auto problem = controller_->lastCacheProblem();
            problem && problem->kind == AppStateController::CacheProblem::Kind::load && command != "login" &&
            command != "logout")
            t_.err << "Warning: the cached state could not be read; it is refreshed at the next sync. ("
                   << problem->description << ")\n";
        if (command == "login")
            return login(rest);
        if (command == "logout")
            return logout();
        if (command == "status")
            return status(rest);
        if (command == "add")
            return add(rest);
        if (command == "pause" || command == "resume" || command == "public" || command == "private" ||
            command == "cert")
            return update(command, rest);
        if (command == "delete")
            return remove(rest);
        if (command == "watch")
            return watch();
        t_.err << "Unknown command \"" << command << "\".\n" << usage();
        return usageError;
    }

private:
    int login(std::vector<std::string> args) {
        if (args.size() == 3 && args[0] == "--service") {
            if (ServiceURLs::isOverriddenByEnvironment())
                t_.err << "Note: " << ServiceURLs::overrideVariable
                       << " is set and decides the service address.\n";
            bool changed = false;
            if (!controller_->setServiceAddress(args[1], [&] { changed = true; })) {
                t_.err << "\"" << args[1] << "\" is not an http or https service address (such as "
                       << ServiceURLs::defaultBaseURL << ").\n";
                return usageError;
            }
            joblark::RunLoop::main()->runUntil([&] { return changed; },
                                               std::chrono::steady_clock::now() + kOperationDeadline);
            args.erase(args.begin(), args.begin() + 2);
        }
        if (args.size() != 1) {
            t_.err << "Usage: kestrova-cli login [--service URL] EMAIL | login [--service URL] --token\n";
            return usageError;
        }
        if (args[0] == "--token") {
            auto token = t_.readSecret("API token: ");
            if (!token || token->empty()) {
                t_.err << "No token given.\n";
                return usageError;
            }
            controller_->setCredentials(*token);
            auto outcome = await([&](AppStateController::Completion done) {
                controller_->sync(
                    [this, done](bool ok, ErrorPtr error) { controller_->finishSignIn(ok, error, done); });
            });
            return signedIn(outcome);
        }
        auto password = t_.readSecret("Password for " + args[0] + ": ");
        if (!password) {
            t_.err << "No password given.\n";
            return usageError;
        }
        auto outcome =
            await([&](AppStateController::Completion done) { controller_->login(args[0], *password, done); });
        return signedIn(outcome);
    }

    int signedIn(const Outcome& outcome) {
        if (!outcome.ok) {
            t_.err << "Sign-in failed: "
                   << describe(outcome.error, "the e-mail address or password was not accepted.") << "\n";
            return unavailable;
        }
        auto user = controller_->state ? controller_->state->user : nullptr;
        t_.out << "Signed in" << (user && user->email ? " as " + *user->email : std::string()) << ".\n";
        return allOk;
    }

    int logout() {
        bool done = false;
        controller_->logout([&] { done = true; });
        joblark::RunLoop::main()->runUntil([&] { return done; },
                                           std::chrono::steady_clock::now() + kOperationDeadline);
        t_.out << "Signed out.\n";
        return allOk;
    }

    /// Refreshes from the service when signed in; false (with the reason printed) when that failed.
    bool refresh() {
        if (!controller_->isSignedIn()) {
            t_.err << "Not signed in. Run: kestrova-cli login EMAIL\n";
            return false;
        }
        auto outcome = await([&](AppStateController::Completion done) { controller_->sync(done); });
        if (!outcome.ok)
            t_.err << "Could not reach the service: " << describe(outcome.error, "no answer") << "\n";
        return outcome.ok;
    }

    int status(const std::vector<std::string>& args) {
        bool json = false;
        bool offline = false;
        for (const auto& arg : args) {
            if (arg == "--json")
                json = true;
            else if (arg == "--offline")
                offline = true;
            else {
                t_.err << "Usage: kestrova-cli status [--json] [--offline]\n";
                return usageError;
            }
        }
        const bool fresh = !offline && refresh();
        std::optional<joblark::Date> dataFrom;
        if (!fresh)
            dataFrom = cacheTime(controller_->cacheFileLocation());
        const AppState* state = controller_->state.get();
        const bool known = state && (state->endpoints || state->measures);
        if (!fresh && !known) {
            if (json)
                t_.out << R"({"overall":null,"signed_in":)" << (controller_->isSignedIn() ? "true" : "false")
                       << R"(,"endpoints":[],"measures":[]})"
                       << "\n";
            return unavailable;
        }
        const OverallStatus overall = overallStatus(state);
        if (json)
            printJSON(*state, overall, fresh ? std::nullopt : dataFrom);
        else
            printTable(*state, overall, fresh ? std::nullopt : dataFrom);
        // Stale data says nothing certain about now.
        return fresh ? exitFor(overall) : unavailable;
    }

    void printTable(const AppState& state, OverallStatus overall,
                    const std::optional<joblark::Date>& dataFrom) {
        if (dataFrom) {
            static const joblark::DateFormatter formatter(joblark::DateStyle::mediumStyle,
                                                          joblark::DateStyle::shortStyle);
            t_.out << "(offline: data from " << formatter.string(*dataFrom) << ")\n";
        }
        t_.out << "Overall: " << upper(rawValue(overall)) << "\n";
        std::size_t width = 4;
        if (state.endpoints)
            for (const auto& e : *state.endpoints)
                width = std::max(width, e->name.value_or("").size());
        if (state.measures)
            for (const auto& m : *state.measures)
                width = std::max(width, m->name.value_or("").size());
        width = std::min<std::size_t>(width, 40);
        auto line = [&](const std::string& name, const std::string& id, const std::string& last,
                        const std::string& uptime, const std::string& updated, const HistoryTiles& tiles) {
            t_.out << "  " << std::left << std::setw(static_cast<int>(width)) << name.substr(0, width) << "  "
                   << std::setw(8) << last << rightAligned(uptime, 5) << "  " << std::setw(8) << updated
                   << "  " << bar(tiles, t_.outputIsTerminal) << "  " << id.substr(0, 8) << "\n";
        };
        if (state.endpoints && !state.endpoints->empty()) {
            t_.out << "Endpoints\n";
            for (const auto& e : *state.endpoints)
                line(e->name.value_or("(unnamed)"), e->id.value_or(""), statusText(e->lastCheckStatus),
                     uptimeText(*e), timeOfDay(e->updatedAt), historyTiles(*e));
        }
        if (state.measures && !state.measures->empty()) {
            t_.out << "Measures\n";
            for (const auto& m : *state.measures)
                line(m->name.value_or("(unnamed)"), m->id.value_or(""), statusText(m->lastStatus),
                     uptimeText(*m), timeOfDay(m->updatedAt), historyTiles(*m));
        }
    }

    void printJSON(const AppState& state, OverallStatus overall,
                   const std::optional<joblark::Date>& dataFrom) {
        auto date = [](const std::optional<joblark::Date>& d) -> joblark::Value {
            return d ? joblark::Value(joblark::ISO8601::format(*d)) : joblark::Value();
        };
        auto tiles = [](const HistoryTiles& all) {
            joblark::Array out;
            for (HistoryTile tile : all)
                if (tile != HistoryTile::placeholder)
                    out.emplace_back(std::string(1, symbolFor(tile)));
            return out;
        };
        joblark::Array endpoints, measures;
        if (state.endpoints)
            for (const auto& e : *state.endpoints)
                endpoints.emplace_back(joblark::Dictionary{
                    {"id", e->id ? joblark::Value(*e->id) : joblark::Value()},
                    {"name", e->name ? joblark::Value(*e->name) : joblark::Value()},
                    {"endpoint_url",
                     e->endpointUrl ? joblark::Value(e->endpointUrl->absoluteString()) : joblark::Value()},
                    {"status",
                     e->status ? joblark::Value(std::string(rawValue(*e->status))) : joblark::Value()},
                    {"last_status", e->lastCheckStatus
                                        ? joblark::Value(std::string(rawValue(*e->lastCheckStatus)))
                                        : joblark::Value()},
                    {"uptime", uptimeValue(uptimeText(*e))},
                    {"updated_at", date(e->updatedAt)},
                    {"history", tiles(historyTiles(*e))}});
        if (state.measures)
            for (const auto& m : *state.measures)
                measures.emplace_back(joblark::Dictionary{
                    {"id", m->id ? joblark::Value(*m->id) : joblark::Value()},
                    {"name", m->name ? joblark::Value(*m->name) : joblark::Value()},
                    {"status",
                     m->status ? joblark::Value(std::string(rawValue(*m->status))) : joblark::Value()},
                    {"last_status", m->lastStatus ? joblark::Value(std::string(rawValue(*m->lastStatus)))
                                                  : joblark::Value()},
                    {"uptime", uptimeValue(uptimeText(*m))},
                    {"updated_at", date(m->updatedAt)},
                    {"history", tiles(historyTiles(*m))}});
        joblark::Dictionary document{{"overall", std::string(rawValue(overall))},
                                     {"signed_in", controller_->isSignedIn()},
                                     {"data_from", date(dataFrom)},
                                     {"endpoints", std::move(endpoints)},
                                     {"measures", std::move(measures)}};
        auto text = joblark::JSON::write(joblark::Value(std::move(document)));
        t_.out << (text ? *text : std::string("{}")) << "\n";
    }

    int add(const std::vector<std::string>& args) {
        if (args.size() != 2) {
            t_.err << "Usage: kestrova-cli add NAME URL\n";
            return usageError;
        }
        auto form = validateEndpointForm(args[0], args[1]);
        if (!form) {
            auto alert = alertText(form.error(), kInvalidFormTitle);
            t_.err << alert.title << ": " << alert.message << "\n";
            return usageError;
        }
        if (!controller_->isSignedIn()) {
            t_.err << "Not signed in. Run: kestrova-cli login EMAIL\n";
            return unavailable;
        }
        auto outcome = await([&](AppStateController::Completion done) {
            controller_->createEndpoint(form->name, form->url, done);
        });
        if (!outcome.ok) {
            auto alert = alertText(
                outcome.error ? outcome.error : std::make_shared<UIError>("Unknown Error", "Unknown error"),
                kCreateEndpointErrorTitle);
            t_.err << alert.title << ": " << alert.message << "\n";
            return unavailable;
        }
        t_.out << "Added endpoint \"" << form->name << "\" for " << form->url.absoluteString() << ".\n";
        return allOk;
    }

    std::optional<Resource> find(const std::string& key) {
        std::vector<Resource> byId, byPrefix, byName;
        auto consider = [&](Resource r, const std::optional<std::string>& id,
                            const std::optional<std::string>& name) {
            if (id && *id == key)
                byId.push_back(r);
            else if (id && key.size() >= 4 && id->rfind(key, 0) == 0)
                byPrefix.push_back(r);
            else if (name && *name == key)
                byName.push_back(r);
        };
        if (controller_->state && controller_->state->endpoints)
            for (const auto& e : *controller_->state->endpoints)
                consider({e, nullptr}, e->id, e->name);
        if (controller_->state && controller_->state->measures)
            for (const auto& m : *controller_->state->measures)
                consider({nullptr, m}, m->id, m->name);
        for (auto* matches : {&byId, &byPrefix, &byName}) {
            if (matches->size() == 1)
                return matches->front();
            if (matches->size() > 1) {
                t_.err << "\"" << key << "\" names more than one endpoint or measure; use its id.\n";
                return std::nullopt;
            }
        }
        t_.err << "No endpoint or measure \"" << key << "\".\n";
        return std::nullopt;
    }

    int update(const std::string& command, const std::vector<std::string>& args) {
        std::optional<bool> certificate;
        std::string key;
        if (command == "cert") {
            if (args.size() != 2 || (args[0] != "on" && args[0] != "off")) {
                t_.err << "Usage: kestrova-cli cert on|off ID\n";
                return usageError;
            }
            certificate = args[0] == "on";
            key = args[1];
        } else if (args.size() == 1) {
            key = args[0];
        } else {
            t_.err << "Usage: kestrova-cli " << command << " ID\n";
            return usageError;
        }
        if (!refresh())
            return unavailable;
        auto resource = find(key);
        if (!resource)
            return usageError;
        if (!resource->url()) {
            t_.err << "The service gave no address for \"" << resource->name() << "\".\n";
            return unavailable;
        }
        std::optional<bool> isPublic;
        if (command == "public" || command == "private")
            isPublic = command == "public";
        const std::optional<bool> active = command == "pause"    ? std::optional(false)
                                           : command == "resume" ? std::optional(true)
                                                                 : std::nullopt;
        Outcome outcome;
        if (resource->endpoint) {
            std::optional<Endpoint::Status> status;
            if (active)
                status = *active ? Endpoint::Status::active : Endpoint::Status::inactive;
            outcome = await([&](AppStateController::Completion done) {
                controller_->updateEndpoint(*resource->url(), isPublic, certificate, status, done);
            });
        } else {
            if (certificate) {
                t_.err << "Certificate checks apply to endpoints only.\n";
                return usageError;
            }
            std::optional<Measure::Status> status;
            if (active)
                status = *active ? Measure::Status::active : Measure::Status::inactive;
            outcome = await([&](AppStateController::Completion done) {
                controller_->updateMeasure(*resource->url(), isPublic, status, done);
            });
        }
        if (!outcome.ok) {
            t_.err << "Could not change \"" << resource->name()
                   << "\": " << describe(outcome.error, "unknown error") << "\n";
            return unavailable;
        }
        t_.out << "Updated \"" << resource->name() << "\".\n";
        return allOk;
    }

    int remove(const std::vector<std::string>& args) {
        bool yes = false;
        std::string key;
        for (const auto& arg : args) {
            if (arg == "--yes" || arg == "-y")
                yes = true;
            else if (key.empty())
                key = arg;
            else
                key.clear(), key = "\x01"; // too many
        }
        if (key.empty() || key == "\x01") {
            t_.err << "Usage: kestrova-cli delete ID [--yes]\n";
            return usageError;
        }
        if (!refresh())
            return unavailable;
        auto resource = find(key);
        if (!resource || !resource->url())
            return usageError;
        if (!yes) {
            t_.out << "Delete \"" << resource->name() << "\"? [y/N] " << std::flush;
            std::string answer;
            if (!std::getline(t_.in, answer) || (answer != "y" && answer != "Y" && answer != "yes")) {
                t_.out << "Not deleted.\n";
                return usageError;
            }
        }
        auto outcome = await([&](AppStateController::Completion done) {
            controller_->deleteResource(*resource->url(), done);
        });
        if (!outcome.ok) {
            t_.err << "Could not delete \"" << resource->name()
                   << "\": " << describe(outcome.error, "unknown error") << "\n";
            return unavailable;
        }
        t_.out << "Deleted \"" << resource->name() << "\".\n";
        return allOk;
    }

    // --- watch ---

    static inline volatile std::sig_atomic_t interrupted = 0;

    std::map<std::string, std::string> statuses() const {
        std::map<std::string, std::string> out;
        const auto* state = controller_->state.get();
        if (state && state->endpoints)
            for (const auto& e : *state->endpoints)
                out[e->name.value_or(e->id.value_or("?"))] = statusText(e->lastCheckStatus);
        if (state && state->measures)
            for (const auto& m : *state->measures)
                out[m->name.value_or(m->id.value_or("?"))] = statusText(m->lastStatus);
        return out;
    }

    int watch() {
        auto& defaults = joblark::UserDefaults::standard();
        if (!refresh())
            return unavailable;
        printTable(*controller_->state, overallStatus(controller_->state.get()), std::nullopt);
        if (!defaults.boolForKey(AppStateController::kShouldAutoRefresh)) {
            t_.out << "Automatic refresh is off (kShouldAutoRefresh); not watching.\n";
            return exitFor(overallStatus(controller_->state.get()));
        }
        t_.out << "Watching; refreshing every " << RefreshInterval::current().count()
               << " seconds. Press Ctrl-C to stop.\n"
               << std::flush;
        auto before = statuses();
        auto overallBefore = overallStatus(controller_->state.get());
        auto onChange = [&] {
            auto now = statuses();
            const std::string stamp = timeOfDay(joblark::Date());
            for (const auto& [name, text] : now) {
                auto old = before.find(name);
                if (old == before.end())
                    t_.out << stamp << "  " << name << ": new, " << text << "\n";
                else if (old->second != text)
                    t_.out << stamp << "  " << name << ": " << old->second << " -> " << text << "\n";
            }
            for (const auto& [name, text] : before)
                if (!now.count(name))
                    t_.out << stamp << "  " << name << ": removed\n";
            auto overallNow = overallStatus(controller_->state.get());
            if (overallNow != overallBefore)
                t_.out << stamp << "  Overall: " << upper(rawValue(overallBefore)) << " -> "
                       << upper(rawValue(overallNow)) << "\n";
            t_.out << std::flush;
            before = std::move(now);
            overallBefore = overallNow;
        };
        auto token = joblark::NotificationCenter::defaultCenter().addObserver(
            std::string(AppStateController::userDidChange), std::nullopt,
            [&](const joblark::Notification&) { onChange(); });
        // Signed out in another terminal: nothing is left to watch.
        bool signedOut = false;
        auto logoutToken = joblark::NotificationCenter::defaultCenter().addObserver(
            std::string(AppStateController::didLogout), std::nullopt, [&](const joblark::Notification&) {
                signedOut = true;
                interrupted = 1;
            });
        if (!controller_->refreshTimer)
            controller_->startRefreshTimer();
        interrupted = 0;
        auto previousInt = std::signal(SIGINT, [](int) { interrupted = 1; });
        auto previousTerm = std::signal(SIGTERM, [](int) { interrupted = 1; });
        while (!interrupted)
            joblark::RunLoop::main()->runUntil([] { return interrupted != 0; },
                                               std::chrono::steady_clock::now() + 200ms);
        std::signal(SIGINT, previousInt);
        std::signal(SIGTERM, previousTerm);
        if (signedOut) {
            t_.err << "Signed out elsewhere; stopped watching.\n";
            return unavailable;
        }
        return exitFor(overallStatus(controller_->state.get()));
    }

    Terminal& t_;
    std::shared_ptr<AppStateController> controller_;
};

} // namespace

std::string usage() {
    return "Usage: kestrova-cli COMMAND\n"
           "  login EMAIL            sign in (password from the terminal, or the first line of input)\n"
           "  login --token          sign in with an API token (read the same way)\n"
           "  login --service URL ...  sign in to another service (remembered; signs out of the old one)\n"
           "  logout                 sign out and forget the token and preferences\n"
           "  status [--json] [--offline]\n"
           "                         overall status, then each endpoint and measure; exit status\n"
           "                         0 ok, 1 degraded, 2 down, 3 not signed in or unreachable\n"
           "  add NAME URL           add an endpoint to monitor\n"
           "  pause|resume ID        stop or restart checking an endpoint or measure\n"
           "  public|private ID      publish or unpublish it\n"
           "  cert on|off ID         check an endpoint's TLS certificate or not\n"
           "  delete ID [--yes]      delete an endpoint or measure (asks first)\n"
           "  watch                  refresh every kRefreshInterval seconds, printing changes\n"
           "ID is an id (or its first characters) or an exact name.\n";
}

int run(const std::vector<std::string>& arguments, Terminal& terminal) {
    if (arguments.empty()) {
        terminal.err << usage();
        return usageError;
    }
    const std::string& command = arguments.front();
    if (command == "help" || command == "--help" || command == "-h") {
        terminal.out << usage();
        return allOk;
    }
    AppStateController::registerDefaults();
    Session session(terminal);
    const int status = session.dispatch(arguments);
    // Whatever the command changed is on disk before the program ends. The main loop keeps running
    // meanwhile: a refresh on the save queue may be waiting for it.
    auto controller = AppStateController::shared();
    if (controller->refreshTimer)
        controller->refreshTimer->invalidate();
    auto drained = std::make_shared<bool>(false);
    controller->queue().async([drained] { joblark::MainThread::runAsync([drained] { *drained = true; }); });
    joblark::RunLoop::main()->runUntil([&] { return *drained; },
                                       std::chrono::steady_clock::now() + kOperationDeadline);
    if (auto problem = controller->lastCacheProblem();
        problem && problem->kind == AppStateController::CacheProblem::Kind::save)
        terminal.err << "Warning: the cached state could not be saved: " << problem->description << "\n";
    return status;
}

} // namespace kestrova::cli
