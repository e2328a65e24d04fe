#include "quillnest/Api.hpp"

#include "quillnest/Assessor.hpp"
#include "quillnest/ResourceJSON.hpp"
#include "quillnest/Storage.hpp"

#include "joblark/Foundation/JSON.hpp"
#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/URL.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

namespace quillnest {

using joblark::Array;
using joblark::Dictionary;
using joblark::Value;

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

Reply jsonReply(int status, const Value& value) {
    auto text = joblark::JSON::write(value);
    if (!text)
        return errorReply(500, "The answer could not be written as JSON");
    return Reply{status, std::move(*text)};
}

/// The body as JSON; an error reply in `failure` when it is empty, malformed or too deep.
std::optional<Value> parseBody(const std::string& body, std::size_t maxDepth, bool allowFragments,
                               Reply& failure) {
    if (body.find_first_not_of(" \t\r\n") == std::string::npos) {
        failure = errorReply(400, "A JSON body is required");
        return std::nullopt;
    }
    joblark::JSON::ParseOptions options;
    options.allowFragments = allowFragments;
    options.maxDepth = maxDepth;
    auto parsed = joblark::JSON::parse(body, options);
    if (!parsed) {
        auto json = std::dynamic_pointer_cast<const joblark::JSONError>(parsed.error());
        if (json && json->code() == joblark::JSONError::Code::tooDeep)
            failure = errorReply(400, "The JSON body is nested too deeply");
        else if (json && json->code() == joblark::JSONError::Code::fragmentNotAllowed)
            failure = errorReply(400, "The request body must be a JSON object");
        else
            failure = errorReply(400, "Malformed JSON: " + parsed.error()->localizedDescription());
        return std::nullopt;
    }
    return std::move(*parsed);
}

/// The body as a JSON object.
std::optional<Dictionary> parseObject(const std::string& body, std::size_t maxDepth, Reply& failure) {
    auto value = parseBody(body, maxDepth, false, failure);
    if (!value)
        return std::nullopt;
    if (!value->isDictionary()) {
        failure = errorReply(400, "The request body must be a JSON object");
        return std::nullopt;
    }
    return std::move(*value->asDictionary());
}

/// Reads optional typed fields of a request object, collecting the first validation failure.
class Fields {
public:
    explicit Fields(const Dictionary& d) : d_(d) {}

    std::optional<std::string> text(const char* key, bool required, std::size_t maxLength = 255) {
        auto* v = find(key);
        if (!v) {
            if (required)
                fail(std::string(key) + ": this field is required");
            return std::nullopt;
        }
        auto* s = v->asString();
        if (!s) {
            fail(std::string(key) + ": must be a string");
            return std::nullopt;
        }
        auto trimmed = *s;
        trimmed.erase(0, trimmed.find_first_not_of(" \t\r\n"));
        trimmed.erase(trimmed.find_last_not_of(" \t\r\n") + 1);
        if (required && trimmed.empty()) {
            fail(std::string(key) + ": must not be empty");
            return std::nullopt;
        }
        // Characters, as the message says: a name of 200 euro signs is 600 bytes.
        const auto characters = std::count_if(trimmed.begin(), trimmed.end(), [](char c) {
            return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        });
        if (static_cast<std::size_t>(characters) > maxLength) {
            fail(std::string(key) + ": must be at most " + std::to_string(maxLength) + " characters");
            return std::nullopt;
        }
        return trimmed;
    }
    std::optional<bool> boolean(const char* key) {
        auto* v = find(key);
        if (!v)
            return std::nullopt;
        if (!v->isBool()) {
            fail(std::string(key) + ": must be true or false");
            return std::nullopt;
        }
        return v->asBool();
    }
    std::optional<std::int64_t> integer(const char* key, std::int64_t low, std::int64_t high) {
        auto* v = find(key);
        if (!v)
            return std::nullopt;
        auto d = v->isNumber() ? v->asDouble() : std::nullopt;
        if (!d || std::floor(*d) != *d || *d < static_cast<double>(low) || *d > static_cast<double>(high)) {
            fail(std::string(key) + ": must be a whole number from " + std::to_string(low) + " to " +
                 std::to_string(high));
            return std::nullopt;
        }
        return static_cast<std::int64_t>(*d);
    }
    std::optional<std::string> choice(const char* key, std::initializer_list<const char*> choices,
                                      bool upperCase = false) {
        auto value = text(key, false);
        if (!value)
            return std::nullopt;
        auto candidate = *value;
        if (upperCase)
            std::transform(candidate.begin(), candidate.end(), candidate.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        std::string list;
        for (auto* c : choices) {
            if (candidate == c)
                return candidate;
            list += (list.empty() ? "\"" : ", \"") + std::string(c) + "\"";
        }
        fail(std::string(key) + ": must be one of " + list);
        return std::nullopt;
    }

    void fail(std::string message) {
        if (!failure_)
            failure_ = std::move(message);
    }
    const std::optional<std::string>& failure() const { return failure_; }

private:
    const Value* find(const char* key) const {
        auto it = d_.find(std::string_view(key));
        return it == d_.end() || it->second.isNull() ? nullptr : &it->second;
    }
    const Dictionary& d_;
    std::optional<std::string> failure_;
};

std::optional<PageQuery> pageQuery(const Request& request, Reply& failure) {
    PageQuery query;
    query.limit = Api::defaultPageSize;
    auto size = request.queryValue("count");
    if (!size)
        size = request.queryValue("page_size");
    if (size) {
        std::int64_t n = 0;
        auto [end, ec] = std::from_chars(size->data(), size->data() + size->size(), n);
        if (ec != std::errc() || end != size->data() + size->size() || n < 1) {
            failure = errorReply(400, "The page size must be a positive whole number");
            return std::nullopt;
        }
        query.limit = std::min(n, Api::maximumPageSize);
    }
    if (auto reverse = request.queryValue("reverse")) {
        if (*reverse == "1" || *reverse == "true")
            query.reverse = true;
        else if (*reverse == "0" || *reverse == "false" || reverse->empty())
            query.reverse = false;
        else {
            failure = errorReply(400, "reverse must be 0 or 1");
            return std::nullopt;
        }
    }
    if (auto since = request.queryValue("since")) {
        std::int64_t n = 0;
        auto [end, ec] = std::from_chars(since->data(), since->data() + since->size(), n);
        if (ec != std::errc() || end != since->data() + since->size() || n < 0) {
            failure = errorReply(400, "Invalid cursor");
            return std::nullopt;
        }
        query.since = n;
    }
    return query;
}

std::vector<std::string> segments(std::string_view path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        auto slash = path.find('/', start);
        if (slash == std::string_view::npos)
            slash = path.size();
        if (slash > start)
            parts.emplace_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

bool validEmail(const std::string& email) {
    if (email.empty() || email.size() > 254)
        return false;
    auto at = email.find('@');
    if (at == std::string::npos || at == 0 || at + 1 >= email.size() ||
        email.find('@', at + 1) != std::string::npos)
        return false;
    for (unsigned char c : email)
        if (c <= 0x20 || c == 0x7F)
            return false;
    return isValidUTF8(email);
}

const joblark::Logger& apiLog() {
    static const joblark::Logger log("quillnest-local", "API");
    return log;
}

} // namespace

std::optional<std::string> Request::header(std::string_view name) const {
    for (const auto& [field, value] : headers)
        if (equalsIgnoringCase(field, name))
            return value;
    return std::nullopt;
}

std::optional<std::string> Request::queryValue(std::string_view name) const {
    for (const auto& [item, value] : query)
        if (item == name)
            return value;
    return std::nullopt;
}

Reply errorReply(int status, std::string message) {
    Dictionary d;
    d["message"] = Value(std::move(message));
    auto text = joblark::JSON::write(Value(std::move(d)));
    return Reply{status, text ? *text : std::string("{\"message\":\"Error\"}")};
}

Api::Api(Storage& storage, ApiOptions options)
    : storage_(storage), options_(std::move(options)), throttle_(options_.signIn) {}

// ---- JSON of the resources ----

namespace {

/// One resource as the whole answer.
template <class Write>
Reply resourceReply(int status, Write write) {
    JSONText out;
    write(out);
    return Reply{status, out.take()};
}

} // namespace

template <class T, class Render>
Reply Api::envelope(const Request&, const std::string& collectionPath, const Page<T>& page,
                    const PageQuery& query, Render render,
                    const std::vector<std::pair<std::string, std::string>>& keptItems) const {
    auto base = joblark::URL::parse(options_.publicUrl + collectionPath);
    JSONText out;
    auto link = [&](bool reverse, std::optional<std::int64_t> since) {
        if (!since || !base) {
            out.null();
            return;
        }
        std::vector<joblark::URLQueryItem> items;
        for (const auto& [name, value] : keptItems)
            items.push_back({name, value});
        items.push_back({"reverse", reverse ? "1" : "0"});
        items.push_back({"count", std::to_string(query.limit)});
        items.push_back({"since", std::to_string(*since)});
        out.string(base->withQueryItems(items).absoluteString());
    };
    out.startObject();
    out.key("count").integer(page.total);
    out.key("next");
    link(query.reverse, page.nextSince);
    out.key("previous");
    link(!query.reverse, page.previousSince);
    out.key("results").startArray();
    for (const auto& item : page.items)
        render(out, item);
    out.endArray();
    out.endObject();
    return Reply{200, out.take()};
}

// ---- routing ----

Reply Api::handle(const Request& request) {
    try {
        return route(request);
    } catch (const std::exception& e) {
        apiLog().error("%{PUBLIC}@ %{PUBLIC}@ failed: %{PUBLIC}@", request.method, request.path, e.what());
        return errorReply(500, "Internal server error");
    }
}

Reply Api::route(const Request& r) {
    auto seg = segments(r.path);
    const std::string method = r.method == "HEAD" ? "GET" : r.method;
    using Handler = std::function<Reply(const UserRecord*)>;
    struct Option {
        const char* method;
        Handler handler;
    };
    auto offer = [&](std::vector<Option> options, bool authenticated) -> Reply {
        std::string allow;
        for (auto& o : options) {
            allow += (allow.empty() ? "" : ", ") + std::string(o.method);
            if (method != o.method)
                continue;
            if (!authenticated)
                return o.handler(nullptr);
            Reply failure;
            auto user = authenticate(r, failure);
            if (!user)
                return failure;
            return o.handler(&*user);
        }
        if (method == "GET")
            allow += ", HEAD";
        auto reply =
            method == "OPTIONS" ? Reply{204, {}} : errorReply(405, "Method \"" + r.method + "\" not allowed");
        reply.headers.emplace_back("Allow", allow + ", OPTIONS");
        return reply;
    };
    auto id = [&](std::size_t i) { return lower(seg[i]); };

    if (seg.empty())
        return offer({{"GET", [&](auto) { return indexPage(); }}}, false);
    if (seg[0] == "accounts" && seg.size() == 2 && seg[1] == "register")
        return offer(
            {{"GET", [&](auto) { return registerPage(r); }}, {"POST", [&](auto) { return registerPage(r); }}},
            false);
    if (seg[0] == "profile" && seg.size() == 1)
        return offer(
            {{"GET", [&](auto) { return profilePage(r); }}, {"POST", [&](auto) { return profilePage(r); }}},
            false);
    if (seg[0] != "api" || seg.size() < 2)
        return errorReply(404, "Not found");

    const auto& collection = seg[1];
    const auto n = seg.size();
    if (collection == "tokens" && n == 3 && seg[2] == "exchange")
        return offer({{"POST", [&](auto) { return exchangeToken(r); }}}, false);
    if (collection == "me" && n == 2)
        return offer({{"GET", [&](auto u) { return me(*u); }}}, true);
    if (collection == "users" && n == 3)
        return offer({{"GET", [&](auto u) { return user(*u, id(2)); }}}, true);
    if (collection == "endpoints" && n == 2)
        return offer({{"GET", [&](auto u) { return listEndpoints(r, *u); }},
                      {"POST", [&](auto u) { return createEndpoint(r, *u); }}},
                     true);
    if (collection == "endpoints" && n == 3)
        return offer({{"GET", [&](auto u) { return getEndpoint(*u, id(2)); }},
                      {"PATCH", [&](auto u) { return patchEndpoint(r, *u, id(2)); }},
                      {"DELETE", [&](auto u) { return deleteEndpoint(*u, id(2)); }}},
                     true);
    if (collection == "measures" && n == 2)
        return offer({{"GET", [&](auto u) { return listMeasures(r, *u); }},
                      {"POST", [&](auto u) { return createMeasure(r, *u); }}},
                     true);
    if (collection == "measures" && n == 3)
        return offer({{"GET", [&](auto u) { return getMeasure(*u, id(2)); }},
                      {"PATCH", [&](auto u) { return patchMeasure(r, *u, id(2)); }},
                      {"DELETE", [&](auto u) { return deleteMeasure(*u, id(2)); }}},
                     true);
    if (collection == "measures" && n == 4 && seg[3] == "report")
        return offer({{"POST", [&](auto u) { return report(r, *u, id(2)); }}}, true);
    if (collection == "devices" && n >= 3 && seg[2] == "apns") {
        if (n == 3)
            return offer({{"GET", [&](auto u) { return listDevices(r, *u); }},
                          {"POST", [&](auto u) { return createDevice(r, *u); }}},
                         true);
        if (n == 4)
            return offer({{"GET", [&](auto u) { return getDevice(*u, id(3)); }},
                          {"DELETE", [&](auto u) { return deleteDevice(*u, id(3)); }}},
                         true);
    }
    return errorReply(404, "Not found");
}

std::optional<UserRecord> Api::authenticate(const Request& request, Reply& failure) {
    auto header = request.header("Authorization");
    if (!header) {
        failure = errorReply(401, "Authentication credentials were not provided");
        failure.headers.emplace_back("WWW-Authenticate", "Token");
        return std::nullopt;
    }
    auto key = parseTokenAuthorization(*header);
    auto user = key ? storage_.userForTokenHash(tokenHash(*key)) : std::nullopt;
    if (!user) {
        failure = errorReply(401, "Invalid token");
        failure.headers.emplace_back("WWW-Authenticate", "Token");
    }
    return user;
}

// ---- accounts and tokens ----

std::optional<UserRecord> Api::createAccount(const std::string& email, const std::string& password,
                                             std::string* failure) {
    auto fail = [&](std::string message) -> std::optional<UserRecord> {
        if (failure)
            *failure = std::move(message);
        return std::nullopt;
    };
    if (!validEmail(email))
        return fail("Enter a valid e-mail address");
    if (password.size() < 8 || password.size() > 1024 || !isValidUTF8(password))
        return fail("The password must have at least 8 characters");
    UserRecord created;
    auto outcome = storage_.createUser(email, hashPassword(password, options_.passwordCost),
                                       options_.endpointLimit, &created);
    if (outcome == CreateOutcome::duplicate)
        return fail(duplicateAccount);
    return created;
}

std::pair<std::string, Millis> Api::issueToken(std::int64_t userId) {
    auto key = newTokenKey();
    auto created = storage_.addToken(userId, tokenHash(key));
    return {key, created};
}

Reply Api::exchangeToken(const Request& request) {
    auto unauthorized = [](std::string message) {
        auto reply = errorReply(401, std::move(message));
        reply.headers.emplace_back("WWW-Authenticate", "Basic realm=\"quillnest-local\"");
        return reply;
    };
    auto header = request.header("Authorization");
    if (!header)
        return unauthorized("Authentication credentials were not provided");
    auto credentials = parseBasicAuthorization(*header);
    if (!credentials)
        return unauthorized("Invalid Basic authorization header");
    auto outcome = signIn(credentials->first, credentials->second, request.peer);
    if (outcome.retryAfter.count() > 0) {
        const auto seconds = std::to_string(outcome.retryAfter.count());
        auto reply = errorReply(429, "Too many failed sign-ins; try again in " + seconds + " seconds");
        reply.headers.emplace_back("Retry-After", seconds);
        return reply;
    }
    if (!outcome.user)
        return unauthorized("Incorrect e-mail address or password");
    auto [key, created] = issueToken(outcome.user->id);
    Dictionary d;
    d["key"] = key;
    d["created_at"] = formatTimestamp(created);
    return jsonReply(200, Value(std::move(d)));
}

Api::SignIn Api::signIn(const std::string& email, const std::string& password, const std::string& peer) {
    if (auto wait = throttle_.attempt(email, peer); wait.count() > 0)
        return SignIn{std::nullopt, wait};
    auto found = storage_.userByEmail(email);
    if (!found) {
        verifyAgainstDummy(password, options_.passwordCost);
        return {};
    }
    if (!verifyPassword(found->second, password))
        return {};
    throttle_.succeeded(email, peer);
    return SignIn{found->first, {}};
}

Reply Api::me(const UserRecord& user) {
    return resourceReply(200, [&](JSONText& out) {
        out.startObject();
        out.key("count").integer(1);
        out.key("next").null();
        out.key("previous").null();
        out.key("results").startArray();
        writeUser(out, user, options_.publicUrl);
        out.endArray();
        out.endObject();
    });
}

Reply Api::user(const UserRecord& user, const std::string& uuid) {
    if (uuid != user.uuid)
        return errorReply(404, "Not found");
    return resourceReply(200, [&](JSONText& out) { writeUser(out, user, options_.publicUrl); });
}

// ---- endpoints ----

Reply Api::listEndpoints(const Request& request, const UserRecord& user) {
    Reply failure;
    auto query = pageQuery(request, failure);
    if (!query)
        return failure;
    auto page = storage_.endpoints(user.id, *query);
    return envelope(request, "/api/endpoints", page, *query, [&](JSONText& out, const EndpointRecord& e) {
        writeEndpoint(out, e, options_.publicUrl);
    });
}

Reply Api::createEndpoint(const Request& request, const UserRecord& user) {
    Reply failure;
    auto body = parseObject(request.body, options_.maxJSONDepth, failure);
    if (!body)
        return failure;
    Fields f(*body);
    EndpointRecord e;
    e.userId = user.id;
    auto name = f.text("name", true);
    auto url = f.text("endpoint_url", true, 2048);
    if (url) {
        auto parsed = joblark::URL::parse(*url);
        auto scheme = parsed ? parsed->scheme() : std::nullopt;
        if (!parsed || (scheme != "http" && scheme != "https") || !parsed->host() || parsed->host()->empty())
            f.fail("endpoint_url: must be an absolute http or https URL");
        else
            e.endpointUrl = *url;
    }
    if (auto v = f.choice("check_type", {"HEAD", "GET"}, true))
        e.checkType = *v;
    if (auto v = f.integer("degredation_threshold", 1, 600000))
        e.degredationThreshold = *v;
    if (auto v = f.boolean("ensure_valid_cert"))
        e.ensureValidCert = *v;
    if (auto v = f.integer("cert_check_expiry_threshold", 0, 365))
        e.certCheckExpiryThreshold = *v;
    if (auto v = f.boolean("public"))
        e.isPublic = *v;
    if (auto v = f.choice("status", {"active", "inactive"}))
        e.status = *v;
    if (f.failure())
        return errorReply(400, *f.failure());
    e.name = *name;
    if (storage_.createEndpoint(e, user.endpointLimit) == CreateOutcome::limitReached)
        return errorReply(400, "This account has reached its limit of " + std::to_string(user.endpointLimit) +
                                   " endpoints");
    if (e.status == "active" && onEndpointReady)
        onEndpointReady(e.id);
    auto stored = storage_.endpoint(user.id, e.uuid);
    if (!stored)
        return errorReply(404, "Not found");
    return resourceReply(201, [&](JSONText& out) { writeEndpoint(out, *stored, options_.publicUrl); });
}

Reply Api::getEndpoint(const UserRecord& user, const std::string& uuid) {
    auto e = storage_.endpoint(user.id, uuid);
    return e ? resourceReply(200, [&](JSONText& out) { writeEndpoint(out, *e, options_.publicUrl); })
             : errorReply(404, "Not found");
}

Reply Api::patchEndpoint(const Request& request, const UserRecord& user, const std::string& uuid) {
    Reply failure;
    // A PATCH that changes nothing may come without a body.
    auto body = request.body.find_first_not_of(" \t\r\n") == std::string::npos
                    ? std::optional<Dictionary>(Dictionary{})
                    : parseObject(request.body, options_.maxJSONDepth, failure);
    if (!body)
        return failure;
    auto before = storage_.endpoint(user.id, uuid);
    if (!before)
        return errorReply(404, "Not found");
    Fields f(*body);
    EndpointChanges c;
    if (body->contains("name"))
        c.name = f.text("name", true);
    c.isPublic = f.boolean("public");
    c.ensureValidCert = f.boolean("ensure_valid_cert");
    c.status = f.choice("status", {"active", "inactive"});
    c.checkType = f.choice("check_type", {"HEAD", "GET"}, true);
    c.degredationThreshold = f.integer("degredation_threshold", 1, 600000);
    c.certCheckExpiryThreshold = f.integer("cert_check_expiry_threshold", 0, 365);
    if (f.failure())
        return errorReply(400, *f.failure());
    auto after = storage_.updateEndpoint(user.id, uuid, c);
    if (!after)
        return errorReply(404, "Not found");
    if (before->status != "active" && after->status == "active" && onEndpointReady)
        onEndpointReady(after->id);
    return resourceReply(200, [&](JSONText& out) { writeEndpoint(out, *after, options_.publicUrl); });
}

Reply Api::deleteEndpoint(const UserRecord& user, const std::string& uuid) {
    if (!storage_.deleteEndpoint(user.id, uuid))
        return errorReply(404, "Not found");
    return Reply{204, {}, {}};
}

// ---- measures ----

Reply Api::listMeasures(const Request& request, const UserRecord& user) {
    Reply failure;
    auto query = pageQuery(request, failure);
    if (!query)
        return failure;
    auto page = storage_.measures(user.id, *query);
    return envelope(request, "/api/measures", page, *query,
                    [&](JSONText& out, const MeasureRecord& m) { writeMeasure(out, m, options_.publicUrl); });
}

Reply Api::createMeasure(const Request& request, const UserRecord& user) {
    Reply failure;
    auto body = parseObject(request.body, options_.maxJSONDepth, failure);
    if (!body)
        return failure;
    Fields f(*body);
    MeasureRecord m;
    m.userId = user.id;
    auto name = f.text("name", true);
    if (auto v = f.boolean("public"))
        m.isPublic = *v;
    if (auto v = f.choice("status", {"active", "inactive"}))
        m.status = *v;
    if (auto* criteria = body->contains("criteria") ? &body->find("criteria")->second : nullptr;
        criteria && !criteria->isNull()) {
        auto* list = criteria->asArray();
        if (!list)
            f.fail("criteria: must be a list");
        else if (list->size() > 20)
            f.fail("criteria: at most 20 criteria");
        else
            for (const auto& item : *list) {
                auto* d = item.asDictionary();
                if (!d) {
                    f.fail("criteria: every criterion must be an object");
                    break;
                }
                Fields cf(*d);
                CriteriaRecord c;
                auto comparison = cf.text("comparison", true);
                if (comparison && !isComparison(*comparison))
                    cf.fail("comparison: must be one of \"less_than_equal\", \"less_than\", "
                            "\"greater_than_equal\", "
                            "\"greater_than\", \"equal\", \"contains\"");
                auto expected = d->find("expected_value");
                if (expected == d->end() || expected->second.isNull())
                    cf.fail("expected_value: this field is required");
                else if (expected->second.isString() || expected->second.isNumber() ||
                         expected->second.isBool())
                    c.expectedValue = measurementText(expected->second);
                else
                    cf.fail("expected_value: must be a string or a number");
                c.valuePath = cf.text("value_path", false, 512);
                if (cf.failure()) {
                    f.fail("criteria: " + *cf.failure());
                    break;
                }
                c.comparison = *comparison;
                m.criteria.push_back(std::move(c));
            }
    }
    if (f.failure())
        return errorReply(400, *f.failure());
    m.name = *name;
    storage_.createMeasure(m);
    auto stored = storage_.measure(user.id, m.uuid);
    if (!stored)
        return errorReply(404, "Not found");
    return resourceReply(201, [&](JSONText& out) { writeMeasure(out, *stored, options_.publicUrl); });
}

Reply Api::getMeasure(const UserRecord& user, const std::string& uuid) {
    auto m = storage_.measure(user.id, uuid);
    return m ? resourceReply(200, [&](JSONText& out) { writeMeasure(out, *m, options_.publicUrl); })
             : errorReply(404, "Not found");
}

Reply Api::patchMeasure(const Request& request, const UserRecord& user, const std::string& uuid) {
    Reply failure;
    auto body = request.body.find_first_not_of(" \t\r\n") == std::string::npos
                    ? std::optional<Dictionary>(Dictionary{})
                    : parseObject(request.body, options_.maxJSONDepth, failure);
    if (!body)
        return failure;
    Fields f(*body);
    MeasureChanges c;
    if (body->contains("name"))
        c.name = f.text("name", true);
    c.isPublic = f.boolean("public");
    c.status = f.choice("status", {"active", "inactive"});
    if (f.failure())
        return errorReply(400, *f.failure());
    auto after = storage_.updateMeasure(user.id, uuid, c);
    return after ? resourceReply(200, [&](JSONText& out) { writeMeasure(out, *after, options_.publicUrl); })
                 : errorReply(404, "Not found");
}

Reply Api::deleteMeasure(const UserRecord& user, const std::string& uuid) {
    if (!storage_.deleteMeasure(user.id, uuid))
        return errorReply(404, "Not found");
    return Reply{204, {}, {}};
}

Reply Api::report(const Request& request, const UserRecord& user, const std::string& uuid) {
    auto m = storage_.measure(user.id, uuid);
    if (!m)
        return errorReply(404, "Not found");
    Reply failure;
    auto body = parseBody(request.body, options_.maxJSONDepth, true, failure);
    if (!body)
        return failure;
    if (m->status != "active")
        return errorReply(409, "The measure is paused; resume it to report values");
    auto assessment = assess(*body, m->criteria);
    storage_.recordAssessment(m->id, assessment);
    auto recorded = storage_.measure(user.id, uuid);
    if (!recorded || recorded->history.empty())
        return errorReply(404, "Not found");
    return resourceReply(201, [&](JSONText& out) { writeAssessment(out, recorded->history.front()); });
}

// ---- devices ----

Reply Api::listDevices(const Request& request, const UserRecord& user) {
    Reply failure;
    auto query = pageQuery(request, failure);
    if (!query)
        return failure;
    auto deviceId = request.queryValue("device_id");
    auto page = storage_.devices(user.id, deviceId, *query);
    std::vector<std::pair<std::string, std::string>> kept;
    if (deviceId)
        kept.emplace_back("device_id", *deviceId);
    return envelope(
        request, "/api/devices/apns", page, *query,
        [&](JSONText& out, const DeviceRecord& d) { writeDevice(out, d, options_.publicUrl); }, kept);
}

Reply Api::createDevice(const Request& request, const UserRecord& user) {
    Reply failure;
    auto body = parseObject(request.body, options_.maxJSONDepth, failure);
    if (!body)
        return failure;
    Fields f(*body);
    auto name = f.text("name", true);
    auto deviceId = f.text("device_id", true);
    auto registration = f.text("registration_id", true, 4096);
    if (f.failure())
        return errorReply(400, *f.failure());
    DeviceRecord d;
    d.userId = user.id;
    d.name = *name;
    d.deviceId = *deviceId;
    d.registrationId = *registration;
    bool created = storage_.upsertDevice(d);
    auto stored = storage_.devices(user.id, d.deviceId, PageQuery{1, false, std::nullopt});
    if (stored.items.empty())
        return errorReply(500, "The device could not be stored");
    return resourceReply(created ? 201 : 200,
                         [&](JSONText& out) { writeDevice(out, stored.items.front(), options_.publicUrl); });
}

Reply Api::getDevice(const UserRecord& user, const std::string& uuid) {
    auto d = storage_.device(user.id, uuid);
    return d ? resourceReply(200, [&](JSONText& out) { writeDevice(out, *d, options_.publicUrl); })
             : errorReply(404, "Not found");
}

Reply Api::deleteDevice(const UserRecord& user, const std::string& uuid) {
    if (!storage_.deleteDevice(user.id, uuid))
        return errorReply(404, "Not found");
    return Reply{204, {}, {}};
}

} // namespace quillnest
