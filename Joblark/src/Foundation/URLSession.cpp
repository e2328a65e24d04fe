#include "joblark/Foundation/URLSession.hpp"

#include "joblark/Foundation/Log.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <limits>
#include <map>
#include <mutex>
#include <vector>

namespace joblark {

namespace {

constexpr std::size_t kMiB = 1024 * 1024;
constexpr int kMaximumRedirects = 10;

const Logger& sessionLog() {
    static const auto* log = new Logger("Joblark", "URLSession");
    return *log;
}

// RAII holders for curl's handles.
struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct MultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlEasy = std::unique_ptr<CURL, EasyDeleter>;
using CurlMulti = std::unique_ptr<CURLM, MultiDeleter>;
using CurlSlist = std::unique_ptr<curl_slist, SlistDeleter>;

bool isFollowableScheme(const URL& url) {
    auto scheme = url.scheme();
    return scheme == "http" || scheme == "https";
}

bool isRedirectStatus(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool isValidHeader(const std::string& name, const std::string& value) {
    auto bad = [](char c) { return c == '\r' || c == '\n' || c == '\0'; };
    return !name.empty() &&
           std::ranges::none_of(name, [&](char c) { return bad(c) || c == ':' || c == ' '; }) &&
           std::ranges::none_of(value, bad);
}

// The one place where curl's result codes become our error codes.
URLSessionError::Code codeForCurlResult(CURLcode result) {
    using Code = URLSessionError::Code;
    switch (result) {
    case CURLE_OPERATION_TIMEDOUT:
        return Code::timedOut;
    case CURLE_COULDNT_CONNECT:
        return Code::cannotConnectToHost;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return Code::cannotFindHost;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
        return Code::secureConnectionFailed;
    case CURLE_TOO_MANY_REDIRECTS:
        return Code::tooManyRedirects;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return Code::unsupportedURL;
    case CURLE_FILESIZE_EXCEEDED:
        return Code::responseTooLarge;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return Code::badServerResponse;
    default:
        return Code::other;
    }
}

std::string sizeText(std::size_t bytes) {
    if (bytes >= kMiB && bytes % kMiB == 0)
        return std::to_string(bytes / kMiB) + " MiB";
    return std::to_string(bytes) + " bytes";
}

} // namespace

URLSessionError::URLSessionError(Code code, int curlCode, std::string detail, std::size_t sizeLimit)
    : code_(code), curlCode_(curlCode), detail_(std::move(detail)), sizeLimit_(sizeLimit) {}

std::string URLSessionError::localizedDescription() const {
    switch (code_) {
    case Code::timedOut:
        return "The request timed out.";
    case Code::cannotConnectToHost:
        return "Could not connect to the server.";
    case Code::cannotFindHost:
        return "A server with the specified hostname could not be found.";
    case Code::secureConnectionFailed:
        return "An SSL error has occurred and a secure connection to the server cannot be made.";
    case Code::tooManyRedirects:
        return "There were too many redirects.";
    case Code::unsupportedURL:
        return "The URL is not supported.";
    case Code::responseTooLarge:
        return "The response is larger than " + sizeText(sizeLimit_) + ".";
    case Code::badServerResponse:
        return "The server returned a bad response.";
    case Code::cancelled:
        return "The request was cancelled.";
    case Code::other:
        break;
    }
    return detail_.empty() ? "The request failed." : "The request failed: " + detail_;
}

namespace detail {

/// One request in flight: the hop now being made and what has come back of it.
struct Transfer {
    Transfer(std::shared_ptr<URLSessionDataTask> owner, URLRequest first)
        : task(std::move(owner)), request(std::move(first)) {}

    std::shared_ptr<URLSessionDataTask> task;
    URLRequest request; // the current hop; redirects rewrite it
    std::chrono::steady_clock::time_point deadline;
    std::size_t sizeLimit = 0;
    int redirects = 0;

    CurlEasy easy;
    CurlSlist headerList;
    std::string urlText;
    std::string acceptEncoding;
    Data body;
    bool tooLarge = false;
    bool outOfMemory = false;
    char errorBuffer[CURL_ERROR_SIZE] = {};
};

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

struct URLSessionCore {
    enum class CommandKind { start, cancel };
    struct Command {
        CommandKind kind;
        std::shared_ptr<URLSessionDataTask> task;
    };

    std::atomic<double> timeoutIntervalForRequest{60.0};
    std::atomic<std::size_t> maximumResponseSize{64 * kMiB};
    std::atomic<std::uint64_t> nextTaskIdentifier{1};

    CurlMulti multi;

    std::mutex mutex;
    std::condition_variable threadEnded;
    std::vector<Command> commands;
    std::atomic<bool> commandsWaiting{false}; // read without the lock by the post-completion spin
    bool stopping = false;                    // no new work; the thread ends the transfers it has and leaves
    bool abandoning = false;                  // the process is exiting: leave at once, touching nothing
    bool threadDone = false;

    // Session thread only.
    std::map<std::uint64_t, std::unique_ptr<Transfer>> active;

    URLSessionCore() {
        static std::once_flag globalInit;
        std::call_once(globalInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
        multi.reset(curl_multi_init());
        if (!multi)
            fatalError("URLSession: curl_multi_init failed");
        // Like the platform's default: a burst of requests to one host queues instead of opening a
        // connection each (HTTP/2 multiplexes them over one anyway).
        curl_multi_setopt(multi.get(), CURLMOPT_MAX_HOST_CONNECTIONS, 6L);
    }

    /// False when the session no longer takes work.
    bool submit(CommandKind kind, std::shared_ptr<URLSessionDataTask> task) {
        {
            std::lock_guard lock(mutex);
            if (stopping)
                return false;
            commands.push_back({kind, std::move(task)});
            commandsWaiting.store(true, std::memory_order_release);
        }
        curl_multi_wakeup(multi.get());
        return true;
    }

    void requestStop(bool abandon) {
        {
            std::lock_guard lock(mutex);
            stopping = true;
            abandoning = abandoning || abandon;
        }
        curl_multi_wakeup(multi.get());
    }

    void run() {
        for (;;) {
            std::vector<Command> pending;
            bool stop = false;
            {
                std::lock_guard lock(mutex);
                if (abandoning)
                    break;
                pending.swap(commands);
                commandsWaiting.store(false, std::memory_order_relaxed);
                stop = stopping;
            }
            for (auto& command : pending) {
                if (command.kind == CommandKind::start)
                    start(std::move(command.task));
                else
                    cancel(command.task);
            }
            if (stop) {
                endAll();
                break;
            }
            int running = 0;
            curl_multi_perform(multi.get(), &running);
            if (collectFinished() && awaitFollowUp())
                continue;
            curl_multi_poll(multi.get(), nullptr, 0, 1000, nullptr);
        }
        std::lock_guard lock(mutex);
        threadDone = true;
        threadEnded.notify_all();
    }

    static ErrorPtr error(URLSessionError::Code code, int curlCode = 0, std::string detail = {}) {
        return std::make_shared<URLSessionError>(code, curlCode, std::move(detail));
    }

    void start(std::shared_ptr<URLSessionDataTask> task) {
        auto transfer = std::make_unique<Transfer>(task, task->originalRequest());
        transfer->sizeLimit = maximumResponseSize.load();
        double seconds = std::min(transfer->request.timeoutInterval, timeoutIntervalForRequest.load());
        if (!std::isfinite(seconds) || seconds <= 0)
            seconds = timeoutIntervalForRequest.load();
        seconds = std::clamp(seconds, 0.001, 1e7); // keeps the deadline arithmetic in range
        transfer->deadline = std::chrono::steady_clock::now() +
                             std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                 std::chrono::duration<double>(seconds));
        if (auto failure = beginHop(*transfer)) {
            task->complete(std::nullopt, std::nullopt, std::move(failure));
            return;
        }
        auto id = task->taskIdentifier();
        active.emplace(id, std::move(transfer));
    }

    void cancel(const std::shared_ptr<URLSessionDataTask>& task) {
        if (auto it = active.find(task->taskIdentifier()); it != active.end()) {
            curl_multi_remove_handle(multi.get(), it->second->easy.get());
            active.erase(it);
        }
        task->complete(std::nullopt, std::nullopt, error(URLSessionError::Code::cancelled));
    }

    void endAll() {
        auto ending = std::move(active);
        active.clear();
        for (auto& [id, transfer] : ending) {
            curl_multi_remove_handle(multi.get(), transfer->easy.get());
            transfer->task->complete(std::nullopt, std::nullopt, error(URLSessionError::Code::cancelled));
        }
    }

    // Sets up the easy handle for the transfer's current request and hands it to the multi handle.
    ErrorPtr beginHop(Transfer& t) {
        using Code = URLSessionError::Code;
        if (!isFollowableScheme(t.request.url))
            return error(Code::unsupportedURL);
        auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
            t.deadline - std::chrono::steady_clock::now());
        if (remaining.count() <= 0)
            return error(Code::timedOut);

        if (t.easy)
            curl_easy_reset(t.easy.get());
        else
            t.easy.reset(curl_easy_init());
        if (!t.easy)
            return error(Code::other, 0, "curl_easy_init failed");
        t.headerList.reset();
        t.body.clear();
        t.tooLarge = false;
        t.errorBuffer[0] = '\0';
        t.urlText = t.request.url.absoluteString();

        // Accept-Encoding goes through curl so that it also decodes the body; the caller's value wins.
        std::optional<std::string> acceptEncoding;
        bool hasExpect = false;
        CurlSlist list;
        // curl_slist_append returns the list's head (or null, leaving the list as it was).
        auto append = [&list](const std::string& line) {
            curl_slist* head = curl_slist_append(list.get(), line.c_str());
            if (!head)
                return false;
            (void)list.release(); // `head` owns the same nodes
            list.reset(head);
            return true;
        };
        for (const auto& [name, value] : t.request.headers) {
            if (!isValidHeader(name, value))
                return error(Code::other, 0, "invalid header field \"" + name + "\"");
            if (detail::headerNameEquals(name, "Accept-Encoding")) {
                acceptEncoding = acceptEncoding ? *acceptEncoding + ", " + value : value;
                continue;
            }
            hasExpect = hasExpect || detail::headerNameEquals(name, "Expect");
            // "Name;" is curl's way of sending a header with an empty value.
            if (!append(value.empty() ? name + ";" : name + ": " + value))
                return error(Code::other, 0, "out of memory");
        }
        if (!hasExpect && !append("Expect:")) // no "100-continue" round trip
            return error(Code::other, 0, "out of memory");
        t.headerList = std::move(list);
        // gzip unless the caller asks otherwise. Offering every encoding curl knows let servers pick
        // brotli at its slowest setting: a 500 KB list then took ten times as long to arrive.
        t.acceptEncoding = acceptEncoding.value_or("gzip");

        CURL* easy = t.easy.get();
        const auto& method = t.request.httpMethod;
        const auto& body = t.request.httpBody;
        curl_easy_setopt(easy, CURLOPT_URL, t.urlText.c_str());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_PRIVATE, &t);
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, t.errorBuffer);
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, t.acceptEncoding.c_str());
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t.headerList.get());
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(remaining.count()));
        // curl refuses an announced Content-Length over the limit up front (0 would mean "no limit").
        if (t.sizeLimit > 0) {
            auto limit = std::min<std::uint64_t>(t.sizeLimit, std::numeric_limits<curl_off_t>::max());
            curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limit));
        }
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &URLSessionCore::onData);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &URLSessionCore::onProgress);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &t);

        if (method == "HEAD") {
            curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        } else if (body || method == "POST" || method == "PUT" || method == "PATCH") {
            // The body pointer stays valid: it belongs to t.request, which outlives the hop.
            static const char empty[] = "";
            curl_easy_setopt(easy, CURLOPT_POST, 1L);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS,
                             body && !body->empty() ? reinterpret_cast<const char*>(body->data()) : empty);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(body ? body->size() : 0));
            if (method != "POST")
                curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
        } else if (method != "GET") {
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
        }

        if (auto added = curl_multi_add_handle(multi.get(), easy); added != CURLM_OK)
            return error(Code::other, 0, curl_multi_strerror(added));
        return nullptr;
    }

    static std::size_t onData(char* data, std::size_t size, std::size_t count, void* context) noexcept {
        auto& t = *static_cast<Transfer*>(context);
        auto bytes = size * count;
        // Stop a body that would pass the limit now, before it is held in memory.
        if (bytes > t.sizeLimit - t.body.size()) {
            t.tooLarge = true;
            return CURL_WRITEFUNC_ERROR;
        }
        try {
            t.body.insert(t.body.end(), data, data + bytes);
        } catch (...) {
            t.outOfMemory = true;
            return CURL_WRITEFUNC_ERROR;
        }
        return bytes;
    }

    static int onProgress(void* context, curl_off_t downloadTotal, curl_off_t downloaded, curl_off_t,
                          curl_off_t) noexcept {
        auto& t = *static_cast<Transfer*>(context);
        if (downloadTotal <= 0)
            return 0;
        long status = 0;
        curl_easy_getinfo(t.easy.get(), CURLINFO_RESPONSE_CODE, &status);
        if (isRedirectStatus(status))
            return 0; // only the final response's body counts
        try {
            t.task->progress()->setFractionCompleted(static_cast<double>(downloaded) /
                                                     static_cast<double>(downloadTotal));
        } catch (...) {
            sessionLog().error("A progress observer threw: %{PUBLIC}@", currentExceptionAsError());
        }
        return 0;
    }

    // A completion often makes the caller's next request follow within microseconds (a chain of
    // API tasks). Spinning briefly for it instead of sleeping at once spares a sleep and a wake-up,
    // which cost tens of microseconds each on a virtual machine. Yielding instead of spinning was
    // worse under load: it handed the core to other processes for a whole time slice.
    bool awaitFollowUp() {
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(30);
        do {
            if (commandsWaiting.load(std::memory_order_acquire))
                return true;
            for (int i = 0; i < 32; ++i)
                cpuRelax();
        } while (std::chrono::steady_clock::now() < until);
        return false;
    }

    /// Whether any transfer ended.
    bool collectFinished() {
        bool any = false;
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            CURLcode result = message->data.result;
            Transfer* t = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &t);
            curl_multi_remove_handle(multi.get(), message->easy_handle);
            if (t)
                finishHop(*t, result);
            any = true;
        }
        return any;
    }

    void finishHop(Transfer& t, CURLcode result) {
        using Code = URLSessionError::Code;
        if (result != CURLE_OK) {
            if (t.tooLarge || result == CURLE_FILESIZE_EXCEEDED)
                return fail(
                    t, std::make_shared<URLSessionError>(Code::responseTooLarge, result, "", t.sizeLimit));
            if (t.outOfMemory)
                return fail(t, error(Code::other, result, "out of memory"));
            std::string detail = t.errorBuffer[0] ? t.errorBuffer : curl_easy_strerror(result);
            return fail(t, error(codeForCurlResult(result), result, std::move(detail)));
        }
        long status = 0;
        curl_easy_getinfo(t.easy.get(), CURLINFO_RESPONSE_CODE, &status);
        char* location = nullptr;
        if (isRedirectStatus(status) &&
            curl_easy_getinfo(t.easy.get(), CURLINFO_REDIRECT_URL, &location) == CURLE_OK && location) {
            auto next = URL::parse(location);
            if (!next)
                return fail(t, error(Code::badServerResponse, 0, "unreadable redirect location"));
            if (++t.redirects > kMaximumRedirects)
                return fail(t, error(Code::tooManyRedirects));
            redirect(t, status, next->resolvingAgainst(t.request.url));
            if (auto failure = beginHop(t))
                fail(t, std::move(failure));
            return;
        }

        HTTPURLResponse response{t.request.url, static_cast<int>(status), {}};
        curl_header* previous = nullptr;
        while (curl_header* header = curl_easy_nextheader(t.easy.get(), CURLH_HEADER, -1, previous)) {
            response.headerFields.emplace_back(header->name, header->value);
            previous = header;
        }
        auto task = std::move(t.task);
        auto body = std::move(t.body);
        active.erase(task->taskIdentifier()); // t is gone from here on
        try {
            task->progress()->setFractionCompleted(1.0);
        } catch (...) {
            sessionLog().error("A progress observer threw: %{PUBLIC}@", currentExceptionAsError());
        }
        task->complete(std::move(body), std::move(response), nullptr);
    }

    static void redirect(Transfer& t, long status, URL next) {
        auto& request = t.request;
        // Credentials belong to the origin they were given for.
        if (!next.isSameOrigin(request.url)) {
            request.setValue(std::nullopt, "Authorization");
            request.setValue(std::nullopt, "Cookie");
        }
        bool becomesGet = (status == 303 && request.httpMethod != "HEAD") ||
                          ((status == 301 || status == 302) && request.httpMethod == "POST");
        if (becomesGet) {
            request.httpMethod = "GET";
            request.httpBody.reset();
            request.setValue(std::nullopt, "Content-Type");
            request.setValue(std::nullopt, "Content-Length");
        }
        request.url = std::move(next);
    }

    void fail(Transfer& t, ErrorPtr failure) {
        auto task = std::move(t.task);
        active.erase(task->taskIdentifier());
        task->complete(std::nullopt, std::nullopt, std::move(failure));
    }
};

} // namespace detail

// MARK: - URLSessionDataTask

URLSessionDataTask::URLSessionDataTask(Private, std::weak_ptr<detail::URLSessionCore> session,
                                       std::uint64_t identifier, URLRequest request, Completion completion)
    : session_(std::move(session)), taskIdentifier_(identifier), originalRequest_(std::move(request)),
      completion_(std::move(completion)) {}

URLSessionDataTask::~URLSessionDataTask() = default;

void URLSessionDataTask::resume() {
    {
        std::lock_guard lock(mutex_);
        if (state_ != State::suspended)
            return;
        state_ = State::running;
    }
    auto core = session_.lock();
    // A dead session cannot run anything: the completion still comes, here and now.
    if (!core || !core->submit(detail::URLSessionCore::CommandKind::start, shared_from_this()))
        complete(std::nullopt, std::nullopt, detail::URLSessionCore::error(URLSessionError::Code::cancelled));
}

void URLSessionDataTask::cancel() {
    {
        std::lock_guard lock(mutex_);
        if (state_ == State::cancelling || state_ == State::completed)
            return;
        state_ = State::cancelling;
    }
    auto core = session_.lock();
    if (!core || !core->submit(detail::URLSessionCore::CommandKind::cancel, shared_from_this()))
        complete(std::nullopt, std::nullopt, detail::URLSessionCore::error(URLSessionError::Code::cancelled));
}

void URLSessionDataTask::complete(std::optional<Data> data, std::optional<HTTPURLResponse> response,
                                  ErrorPtr error) {
    Completion completion;
    {
        std::lock_guard lock(mutex_);
        if (state_ == State::completed)
            return;
        state_ = State::completed;
        completion = std::move(completion_);
        completion_ = nullptr;
    }
    if (!completion)
        return;
    // Nothing the caller throws may unwind into curl or end the session thread.
    try {
        completion(std::move(data), std::move(response), std::move(error));
    } catch (...) {
        sessionLog().error("A URLSession completion threw: %{PUBLIC}@", currentExceptionAsError());
    }
}

// MARK: - URLSession

URLSession::URLSession() : core_(std::make_shared<detail::URLSessionCore>()) {
    thread_ = std::thread([core = core_] { core->run(); });
}

URLSession::~URLSession() {
    core_->requestStop(false);
    // A completion that destroys its own session cannot wait for itself.
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach();
    else
        thread_.join();
}

URLSession& URLSession::shared() {
    // Never destroyed, but its thread is stopped at exit, before curl and OpenSSL tear down their
    // globals (their exit handlers were registered earlier, by curl_global_init, so they run later).
    static URLSession* session = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        session = new URLSession;
        std::atexit([] { session->stopForExit(); });
    });
    return *session;
}

// Leaves without completing anything (the code those completions would run is being destroyed); a
// thread stuck in a caller's completion is left behind after a short wait rather than blocking exit.

void URLSession::stopForExit() {
    core_->requestStop(true);
    std::unique_lock lock(core_->mutex);
    bool ended =
        core_->threadEnded.wait_for(lock, std::chrono::seconds(2), [&] { return core_->threadDone; });
    lock.unlock();
    if (ended)
        thread_.join();
    else
        thread_.detach();
}

std::shared_ptr<URLSessionDataTask> URLSession::dataTask(URLRequest request,
                                                         URLSessionDataTask::Completion completion) {
    return std::make_shared<URLSessionDataTask>(URLSessionDataTask::Private{}, core_,
                                                core_->nextTaskIdentifier.fetch_add(1), std::move(request),
                                                std::move(completion));
}

double URLSession::timeoutIntervalForRequest() const {
    return core_->timeoutIntervalForRequest.load();
}
void URLSession::setTimeoutIntervalForRequest(double seconds) {
    core_->timeoutIntervalForRequest.store(seconds);
}
std::size_t URLSession::maximumResponseSize() const {
    return core_->maximumResponseSize.load();
}
void URLSession::setMaximumResponseSize(std::size_t bytes) {
    core_->maximumResponseSize.store(bytes);
}

} // namespace joblark
