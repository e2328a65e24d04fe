#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Foundation/Error.hpp"
#include "joblark/Foundation/Progress.hpp"
#include "joblark/Foundation/URLRequest.hpp"
#include "joblark/Foundation/Value.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

// Thread safety: Thread-safe: requests may be started and cancelled from any thread; completions and progress
// arrive on the session's own thread, exactly once each.

namespace joblark {

/// Why a request produced no response.
class JOBLARK_EXPORT URLSessionError : public ErrorBase<URLSessionError> {
public:
    enum class Code {
        timedOut,
        cannotConnectToHost,
        cannotFindHost,
        secureConnectionFailed,
        tooManyRedirects,
        unsupportedURL,
        responseTooLarge,
        badServerResponse,
        cancelled,
        other
    };

    /// `curlCode` is the transfer library's result code (0 when the failure is ours); `detail` is its
    /// message, for logs.
    explicit URLSessionError(Code code, int curlCode = 0, std::string detail = {}, std::size_t sizeLimit = 0);

    Code code() const { return code_; }
    int curlCode() const { return curlCode_; }
    const std::string& detail() const { return detail_; }

    std::string localizedDescription() const override;
    std::string typeName() const override { return "Joblark.URLSessionError"; }

private:
    Code code_;
    int curlCode_;
    std::string detail_;
    std::size_t sizeLimit_;
};

class URLSession;
namespace detail {
struct URLSessionCore;
}

/// One request of a session. Nothing happens until resume(); the completion then runs exactly once, on
/// the session thread, whatever the outcome.
class JOBLARK_EXPORT URLSessionDataTask : public std::enable_shared_from_this<URLSessionDataTask> {
public:
    using Completion = std::function<void(std::optional<Data>, std::optional<HTTPURLResponse>, ErrorPtr)>;

    URLSessionDataTask(const URLSessionDataTask&) = delete;
    URLSessionDataTask& operator=(const URLSessionDataTask&) = delete;
    ~URLSessionDataTask();

    void resume();
    /// Ends the request; its completion arrives (once) with a `cancelled` error, unless it had already
    /// been delivered.
    void cancel();

    const URLRequest& originalRequest() const { return originalRequest_; }
    std::shared_ptr<Progress> progress() const { return progress_; }
    std::uint64_t taskIdentifier() const { return taskIdentifier_; }

private:
    friend class URLSession;
    struct Private {};

public:
    // Only the session makes tasks.
    URLSessionDataTask(Private, std::weak_ptr<detail::URLSessionCore> session, std::uint64_t identifier,
                       URLRequest request, Completion completion);

private:
    enum class State { suspended, running, cancelling, completed };
    friend struct detail::URLSessionCore;
    /// Delivers the completion unless it was delivered before.
    void complete(std::optional<Data> data, std::optional<HTTPURLResponse> response, ErrorPtr error);

    std::weak_ptr<detail::URLSessionCore> session_;
    const std::uint64_t taskIdentifier_;
    const URLRequest originalRequest_;
    const std::shared_ptr<Progress> progress_ = std::make_shared<Progress>();
    std::mutex mutex_;
    State state_ = State::suspended;
    Completion completion_;
};

/// Loads URLs over HTTP and HTTPS. One thread per session drives every transfer, keeping connections
/// alive between requests; completions and progress are reported on that thread.
class JOBLARK_EXPORT URLSession {
public:
    URLSession();
    /// Ends the session's transfers (their completions report `cancelled`) and its thread.
    ~URLSession();
    URLSession(const URLSession&) = delete;
    URLSession& operator=(const URLSession&) = delete;

    /// Created on first use and kept to the end of the process.
    static URLSession& shared();

    std::shared_ptr<URLSessionDataTask> dataTask(URLRequest request,
                                                 URLSessionDataTask::Completion completion);

    /// Seconds any request may take at most (default 60); a request's own smaller limit wins.
    double timeoutIntervalForRequest() const;
    void setTimeoutIntervalForRequest(double seconds);
    template <class Rep, class Period>
    void setTimeoutIntervalForRequest(std::chrono::duration<Rep, Period> timeout) {
        setTimeoutIntervalForRequest(std::chrono::duration<double>(timeout).count());
    }
    /// Largest body accepted (default 64 MiB); bigger responses fail with `responseTooLarge`.
    std::size_t maximumResponseSize() const;
    void setMaximumResponseSize(std::size_t bytes);

private:
    void stopForExit();

    std::shared_ptr<detail::URLSessionCore> core_;
    std::thread thread_;
};

} // namespace joblark
