#include "Service/CredentialStore.hpp"
#include "Service/ServiceURLs.hpp"

#include "joblark/Foundation/FileLocations.hpp"
#include "joblark/Foundation/JSON.hpp"
#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/OperationQueue.hpp"

#include <libsecret/secret.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <mutex>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kestrova {

namespace {

using joblark::Logger;

// RAII holders for the GLib objects used here.
struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorHolder = std::unique_ptr<GError, GErrorFree>;
struct HashTableUnref {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct SecretFree {
    void operator()(gchar* secret) const { secret_password_free(secret); }
};

const SecretSchema& schema() {
    static const SecretSchema value = [] {
        SecretSchema s{};
        s.name = "org.kestrova.Credentials";
        s.flags = SECRET_SCHEMA_NONE;
        s.attributes[0].name = "account";
        s.attributes[0].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
        s.attributes[1].name = "service";
        s.attributes[1].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
        return s;
    }();
    return value;
}

std::unique_ptr<GHashTable, HashTableUnref> attributes() {
    std::unique_ptr<GHashTable, HashTableUnref> table(g_hash_table_new(g_str_hash, g_str_equal));
    g_hash_table_insert(table.get(), const_cast<char*>("account"),
                        const_cast<char*>(CredentialStore::account.data()));
    g_hash_table_insert(table.get(), const_cast<char*>("service"),
                        const_cast<char*>(CredentialStore::service.data()));
    return table;
}

/// What one asynchronous libsecret call delivered.
struct Pending {
    std::atomic<bool> done{false};
    GAsyncResult* result = nullptr;
};

void onReady(GObject*, GAsyncResult* result, gpointer data) {
    auto* pending = static_cast<Pending*>(data);
    pending->result = G_ASYNC_RESULT(g_object_ref(result));
    pending->done = true;
}

gboolean cancelCall(gpointer cancellable) {
    g_cancellable_cancel(G_CANCELLABLE(cancellable));
    return G_SOURCE_REMOVE;
}

/// Runs one asynchronous libsecret call on a private main context and waits for it, cancelling it
/// when the time-out passes: the blocking calls would wait for D-Bus's own 25 s time-out, and a
/// headless machine must not hang on them. `finish` is called with the result.
template <class Start, class Finish>
void callWithTimeout(Start start, Finish finish) {
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    std::unique_ptr<GCancellable, ObjectUnref> cancellable(g_cancellable_new());
    // Heap-held: if the call ignores cancellation its late callback must still find it.
    auto* pending = new Pending();
    start(cancellable.get(), &onReady, static_cast<gpointer>(pending));

    auto timeoutMs = static_cast<guint>(CredentialStore::timeout.count());
    GSource* timer = g_timeout_source_new(timeoutMs);
    g_source_set_callback(timer, &cancelCall, cancellable.get(), nullptr);
    g_source_attach(timer, context);
    // After a cancellation the call normally ends at once; give it a little longer, then abandon it.
    GSource* giveUp = g_timeout_source_new(timeoutMs * 2);
    std::atomic<bool> abandoned{false};
    g_source_set_callback(
        giveUp,
        [](gpointer flag) -> gboolean {
            static_cast<std::atomic<bool>*>(flag)->store(true);
            return G_SOURCE_REMOVE;
        },
        &abandoned, nullptr);
    g_source_attach(giveUp, context);

    while (!pending->done && !abandoned)
        g_main_context_iteration(context, TRUE);

    g_source_destroy(timer);
    g_source_unref(timer);
    g_source_destroy(giveUp);
    g_source_unref(giveUp);
    g_main_context_pop_thread_default(context);
    if (pending->done) {
        finish(pending->result);
        g_object_unref(pending->result);
        delete pending;
        g_main_context_unref(context);
    } else {
        // The call never came back; its context and record stay alive for a callback that may
        // still arrive. This only happens on a broken bus, once per call.
        GError* error =
            g_error_new_literal(G_IO_ERROR, G_IO_ERROR_TIMED_OUT, "The Secret Service did not answer.");
        finish(nullptr, error);
    }
}

/// The outcome of one Secret Service call.
struct Outcome {
    /// No Secret Service answered (no bus, nobody owning the name, a time-out): use the file.
    bool unavailable = false;
    ErrorHolder error;
};

Outcome classify(GError* error) {
    Outcome outcome;
    if (!error)
        return outcome;
    outcome.unavailable = error->domain != SECRET_ERROR;
    outcome.error.reset(error);
    return outcome;
}

// Once the Secret Service has failed to answer, it is not asked again in this process, so that
// a headless machine waits at most once.
std::atomic<bool> serviceUnavailable{false};

void noteUnavailable(const GError* error) {
    serviceUnavailable = true;
    static std::once_flag warned;
    std::call_once(warned, [&] {
        Logger::general().notice("[WARN] No Secret Service answered (%{PUBLIC}@); credentials are kept in "
                                 "%{PUBLIC}@ instead.",
                                 std::string(error ? error->message : "unknown reason"),
                                 CredentialStore::fallbackFile().string());
    });
}

Outcome storeInService(const std::string& secret) {
    Outcome outcome;
    auto table = attributes();
    callWithTimeout(
        [&](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer data) {
            secret_password_storev(&schema(), table.get(), SECRET_COLLECTION_DEFAULT, "Kestrova credentials",
                                   secret.c_str(), cancellable, callback, data);
        },
        [&](GAsyncResult* result, GError* failure = nullptr) {
            GError* error = failure;
            if (result)
                secret_password_store_finish(result, &error);
            outcome = classify(error);
        });
    return outcome;
}

Outcome lookupInService(std::optional<std::string>& secret) {
    Outcome outcome;
    auto table = attributes();
    callWithTimeout(
        [&](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer data) {
            secret_password_lookupv(&schema(), table.get(), cancellable, callback, data);
        },
        [&](GAsyncResult* result, GError* failure = nullptr) {
            GError* error = failure;
            if (result) {
                std::unique_ptr<gchar, SecretFree> value(secret_password_lookup_finish(result, &error));
                if (value)
                    secret = std::string(value.get());
            }
            outcome = classify(error);
        });
    return outcome;
}

Outcome clearInService() {
    Outcome outcome;
    auto table = attributes();
    callWithTimeout(
        [&](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer data) {
            secret_password_clearv(&schema(), table.get(), cancellable, callback, data);
        },
        [&](GAsyncResult* result, GError* failure = nullptr) {
            GError* error = failure;
            if (result)
                secret_password_clear_finish(result, &error);
            outcome = classify(error);
        });
    return outcome;
}

/// The stored content: {"token": token}.
// The record also names the service that issued the token, so that a token is never sent to another
// one when the address changes between runs.
std::string contentFor(const std::string& token) {
    auto json = joblark::JSON::write(
        joblark::Value(joblark::Dictionary{{"token", token}, {"origin", ServiceURLs::serviceBaseURL()}}));
    return json ? *json : std::string();
}

std::optional<std::string> tokenFrom(std::string_view content) {
    auto parsed = joblark::JSON::parse(content);
    if (!parsed)
        return std::nullopt;
    const auto* token = parsed->find("token");
    if (!token || !token->asString())
        return std::nullopt;
    // Records from before the origin was kept belong to the address in use.
    const auto* origin = parsed->find("origin");
    if (origin && origin->asString() && *origin->asString() != ServiceURLs::serviceBaseURL())
        return std::nullopt;
    return *token->asString();
}

CredentialLookup lookupFallback() {
    const auto file = CredentialStore::fallbackFile();
    std::error_code error;
    if (!std::filesystem::exists(file, error) && !error)
        return {true, std::nullopt};
    // A token file is tiny; anything large is not ours.
    auto bytes = joblark::FileLocations::readFile(file, 64 * 1024);
    if (!bytes)
        return {};
    auto token = tokenFrom(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    return {token.has_value(), token};
}

/// Empty on success, else why the file could not be removed.
std::string removeFallback() {
    std::error_code error;
    std::filesystem::remove(CredentialStore::fallbackFile(), error);
    return error ? error.message() : std::string();
}

} // namespace

std::filesystem::path CredentialStore::fallbackFile() {
    return joblark::FileLocations::dataDirectory() / "credentials.json";
}

bool saveCredentials(const std::string& token) {
    auto content = contentFor(token);
    if (content.empty()) {
        Logger::general().notice("Could not save keychain data! %{PUBLIC}@", "The token is not valid text.");
        return false;
    }
    if (!serviceUnavailable) {
        auto outcome = storeInService(content);
        if (!outcome.error) {
            // The keyring holds it now; a copy left in a file from a headless session must go.
            removeFallback();
            return true;
        }
        if (!outcome.unavailable) {
            Logger::general().notice("Could not save keychain data! %{PUBLIC}@",
                                     std::string(outcome.error->message));
            return false;
        }
        noteUnavailable(outcome.error.get());
    }
    auto written =
        joblark::FileLocations::writeFileAtomically(CredentialStore::fallbackFile(), content, 0600);
    if (!written) {
        Logger::general().notice("Could not save keychain data! %{PUBLIC}@", written.errorMessage);
        return false;
    }
    return true;
}

CredentialLookup lookupCredentials() {
    if (!serviceUnavailable) {
        std::optional<std::string> secret;
        auto outcome = lookupInService(secret);
        if (!outcome.error) {
            if (!secret)
                return lookupFallback();
            auto token = tokenFrom(*secret);
            return {token.has_value(), token};
        }
        if (!outcome.unavailable)
            return {};
        noteUnavailable(outcome.error.get());
    }
    return lookupFallback();
}

std::optional<std::string> loadCredentials() {
    joblark::FileLocations::removeStaleTemporaryFiles(CredentialStore::fallbackFile());
    return lookupCredentials().token;
}

CredentialStore::ExclusiveAccess::ExclusiveAccess()
    : fd_(::open((joblark::FileLocations::dataDirectory() / ".credentials.lock").c_str(),
                 O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    while (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
}

CredentialStore::ExclusiveAccess::~ExclusiveAccess() {
    if (fd_ >= 0)
        ::close(fd_); // releases the lock
}

void purgeCredentials() {
    std::string failure;
    if (!serviceUnavailable) {
        auto outcome = clearInService();
        if (outcome.error && outcome.unavailable)
            noteUnavailable(outcome.error.get());
        else if (outcome.error)
            failure = outcome.error->message;
    }
    // The file is removed in every case, so that signing out never leaves a token behind.
    if (auto fileFailure = removeFallback(); !fileFailure.empty() && failure.empty())
        failure = fileFailure;
    if (!failure.empty())
        Logger::general().notice("Could not purge keychain data! %{PUBLIC}@", failure);
    joblark::OperationQueue::main().cancelAllOperations();
}

} // namespace kestrova
