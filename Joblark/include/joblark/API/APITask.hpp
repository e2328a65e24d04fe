#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/API/HTTPRequestTask.hpp"

#include <concepts>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// Thread safety: Like every Task: accessors may be called from any thread; set the delegate and request
// before submitting. Delegate calls arrive on the URL session's thread.

namespace joblark {

class APITask;

/// What a JSON API call failed with: the server's message (or the standard one for its status) and
/// the status or the server's own code.
class JOBLARK_EXPORT APIError : public ErrorBase<APIError> {
public:
    APIError(std::optional<std::string> message, std::optional<std::int64_t> code);
    /// The "message" of an error body when it has one, else the standard message for the code; the
    /// code given wins over the body's "code".
    static APIError fromResults(const std::optional<Dictionary>& results, std::optional<std::int64_t> code);
    /// The standard message for an HTTP status, where there is one.
    static std::optional<std::string> getMessage(std::optional<std::int64_t> code);

    const std::optional<std::string>& message() const { return message_; }
    std::optional<std::int64_t> code() const { return code_; }
    /// The message, or "No error message".
    std::string localizedDescription() const override;
    std::string typeName() const override { return "Joblark.APIError"; }

private:
    std::optional<std::string> message_;
    std::optional<std::int64_t> code_;
};

/// Supplies the credential an authenticated API task sends.
class JOBLARK_EXPORT APITaskAuthenticationProvider {
public:
    virtual ~APITaskAuthenticationProvider() = default;
    /// Nothing means no credential is sent.
    virtual std::optional<std::string> credential() = 0;
};

/// Hears what an API task does. Calls arrive on the URL session's thread.
class JOBLARK_EXPORT APITaskDelegate {
public:
    virtual ~APITaskDelegate() = default;
    virtual void taskDidReceive(APITask& task, const std::optional<Dictionary>& results);
    /// Default: logs "Task: <class> encountered error: <description>" to the task log.
    virtual void taskDidEncounter(APITask& task, const ErrorPtr& error);
    virtual void taskDidProgress(APITask& task, const Progress& progress);
    virtual void taskDidFinishProcessing(APITask& task);
};

/// Parses a body as JSON (a top-level fragment allowed) and returns it when it is a dictionary.
/// Failures are logged to the general log and give nothing.
JOBLARK_EXPORT std::optional<Dictionary> jsonLoads(const Data& data);

/// The HTTP request task of a JSON API: sends `parameters` as a sorted compact JSON body with the
/// standard headers (and a credential when required), parses the answer into `results`, turns a
/// status outside 200-299 into an APIError, tells its delegate, hands the results to process() and
/// ends succeeded when no error was reported.
class JOBLARK_EXPORT APITask : public HTTPRequestTask {
public:
    APITask();
    std::string className() const override { return "Joblark.APITask"; }

    virtual std::optional<Dictionary> results() const;
    virtual void setResults(std::optional<Dictionary> results);
    virtual std::shared_ptr<APITaskDelegate> delegate() const;
    virtual void setDelegate(const std::shared_ptr<APITaskDelegate>& delegate);
    virtual std::shared_ptr<APITaskAuthenticationProvider> authenticationProvider() const { return nullptr; }
    virtual bool requiresAuthentication() const;
    virtual void setRequiresAuthentication(bool value);
    /// Subclasses build their models here; the base does nothing.
    virtual void process(const std::optional<Dictionary>& results);

    Headers headers() const override;
    std::optional<Data> requestBody() const override;
    void handleResponse(const std::optional<Data>& data, const std::optional<HTTPURLResponse>& response,
                        const ErrorPtr& error) override;
    void progressDidChange(const Progress& progress, double fractionCompleted) override;
    /// Records the error and tells the delegate.
    void report(ErrorPtr error) override;

private:
    std::optional<Dictionary> results_;
    std::weak_ptr<APITaskDelegate> delegate_;
    bool requiresAuthentication_ = true;
};

/// An API task whose credential comes from a fresh `Provider` on every read.
template <class Provider>
requires std::derived_from<Provider, APITaskAuthenticationProvider> && std::default_initializable<Provider>
class JOBLARK_EXPORT AuthenticatedAPITask : public APITask {
public:
    std::string className() const override { return "Joblark.AuthenticatedAPITask"; }
    std::shared_ptr<APITaskAuthenticationProvider> authenticationProvider() const override {
        return std::make_shared<Provider>();
    }
};

} // namespace joblark
