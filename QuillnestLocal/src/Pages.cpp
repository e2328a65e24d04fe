// The two pages the client opens in the browser: account registration and the profile.
#include "quillnest/Api.hpp"
#include "quillnest/Storage.hpp"

#include "joblark/Foundation/URL.hpp"

#include <algorithm>

namespace quillnest {

namespace {

std::string escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

Reply page(int status, std::string_view title, const std::string& content) {
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
        "<title>" +
        escape(title) +
        " · quillnest-local</title><style>"
        "body{font-family:system-ui,sans-serif;max-width:34rem;margin:3rem auto;padding:0 1rem;"
        "color:#222}label{display:block;margin:.8rem 0 .2rem}input{width:100%;padding:.4rem;"
        "box-sizing:border-box}button{margin-top:1rem;padding:.5rem 1rem}.error{color:#b00020}"
        "dt{font-weight:600;margin-top:.6rem}</style></head><body><h1>" +
        escape(title) + "</h1>\n" + content + "\n</body></html>\n";
    return Reply{status, std::move(html), "text/html; charset=utf-8"};
}

/// Fields of an application/x-www-form-urlencoded body.
std::vector<joblark::URLQueryItem> formFields(std::string body) {
    std::replace(body.begin(), body.end(), '+', ' ');
    // Spaces are not valid in a URI; the query parser takes them percent-encoded.
    std::string encoded;
    for (char c : body)
        encoded += c == ' ' ? std::string("%20") : std::string(1, c);
    auto url = joblark::URL::parse("http://form.invalid/?" + encoded);
    return url ? url->queryItems() : std::vector<joblark::URLQueryItem>{};
}

std::string field(const std::vector<joblark::URLQueryItem>& fields, std::string_view name) {
    for (const auto& item : fields)
        if (item.name == name)
            return item.value.value_or("");
    return {};
}

std::string errorParagraph(const std::string& message) {
    return message.empty() ? std::string() : "<p class=\"error\">" + escape(message) + "</p>";
}

std::string signInForm(const char* action, const char* button, const std::string& email, bool confirm) {
    std::string form = std::string("<form method=\"post\" action=\"") + action +
                       "\"><label for=\"email\">E-mail address</label>"
                       "<input id=\"email\" name=\"email\" type=\"email\" required value=\"" +
                       escape(email) +
                       "\"><label for=\"password\">Password</label>"
                       "<input id=\"password\" name=\"password\" type=\"password\" required>";
    if (confirm)
        form += "<label for=\"password2\">Password again</label>"
                "<input id=\"password2\" name=\"password2\" type=\"password\" required>";
    return form + "<button type=\"submit\">" + button + "</button></form>";
}

} // namespace

Reply Api::indexPage() {
    return page(200, "quillnest-local",
                "<p>A local Quillnest monitoring service. The API lives under <code>/api</code>.</p>"
                "<ul><li><a href=\"/accounts/register\">Create an account</a></li>"
                "<li><a href=\"/profile\">Your profile</a></li></ul>");
}

Reply Api::registerPage(const Request& request) {
    const char* intro =
        "<p>Create an account, then sign in to Kestrova with its e-mail address and password.</p>";
    if (request.method != "POST")
        return page(200, "Create an account",
                    intro + signInForm("/accounts/register", "Create account", {}, true));
    auto fields = formFields(request.body);
    auto email = field(fields, "email");
    auto password = field(fields, "password");
    std::string failure;
    if (password != field(fields, "password2"))
        failure = "The two passwords differ";
    else if (createAccount(email, password, &failure) || failure == duplicateAccount)
        // The same answer whether the address was new or taken: this page must not tell which
        // addresses have accounts. (Both paths hash the password first, so they take as long.)
        return page(201, "Account created",
                    "<p>If <strong>" + escape(email) +
                        "</strong> had no account yet, it has one now: sign in to Kestrova with it. If it "
                        "had one, nothing changed; sign in with that account's password.</p><p><a "
                        "href=\"/profile\">Profile</a></p>");
    return page(400, "Create an account",
                intro + errorParagraph(failure) +
                    signInForm("/accounts/register", "Create account", email, true));
}

Reply Api::profilePage(const Request& request) {
    const char* intro = "<p>Sign in to see your account.</p>";
    if (request.method != "POST")
        return page(200, "Profile",
                    intro + signInForm("/profile", "Show profile", {}, false) +
                        "<p><a href=\"/accounts/register\">Create an account</a></p>");
    auto fields = formFields(request.body);
    auto email = field(fields, "email");
    auto outcome = signIn(email, field(fields, "password"), request.peer);
    if (outcome.retryAfter.count() > 0) {
        const auto seconds = std::to_string(outcome.retryAfter.count());
        auto reply = page(429, "Profile",
                          errorParagraph("Too many failed sign-ins; try again in " + seconds + " seconds") +
                              signInForm("/profile", "Show profile", email, false));
        reply.headers.emplace_back("Retry-After", seconds);
        return reply;
    }
    if (!outcome.user)
        return page(401, "Profile",
                    errorParagraph("Incorrect e-mail address or password") +
                        signInForm("/profile", "Show profile", email, false));
    const auto& u = *outcome.user;
    return page(200, "Profile",
                "<dl><dt>E-mail address</dt><dd>" + escape(u.email) + "</dd><dt>Member since</dt><dd>" +
                    formatTimestamp(u.createdAt) + "</dd><dt>Endpoints</dt><dd>" +
                    std::to_string(u.endpointCount) + " of " + std::to_string(u.endpointLimit) +
                    "</dd><dt>Contacts remaining</dt><dd>" + std::to_string(u.contactsRemaining) +
                    "</dd><dt>Status page</dt><dd>" + (u.statusPageEnabled ? "on" : "off") + "</dd></dl>");
}

} // namespace quillnest
