#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Foundation/URL.hpp"
#include "joblark/Foundation/URLSession.hpp"
#include "joblark/Tasks/Task.hpp"

#include <map>
#include <optional>
#include <string>
#include <string_view>

// Thread safety: Like every Task: accessors may be called from any thread; set the request before submitting.
// Progress and completion arrive on the URL session's thread.

namespace joblark {

/// The HTTP verbs, with the resource-style aliases that service tasks name their verb by.
class JOBLARK_EXPORT RequestMethod {
public:
    enum Case : std::uint8_t { get, post, put, patch, delete_ };

    constexpr RequestMethod(Case c = get) : case_(c) {}
    constexpr operator Case() const { return case_; }

    static const RequestMethod list, retrieve, create, update, partialUpdate, destroy;

    /// Exact, case-sensitive match of "GET", "POST", "PUT", "PATCH", "DELETE".
    static std::optional<RequestMethod> fromRawValue(std::string_view raw);
    std::string_view rawValue() const;

private:
    Case case_;
};

inline const RequestMethod RequestMethod::list{RequestMethod::get};
inline const RequestMethod RequestMethod::retrieve{RequestMethod::get};
inline const RequestMethod RequestMethod::create{RequestMethod::post};
inline const RequestMethod RequestMethod::update{RequestMethod::put};
inline const RequestMethod RequestMethod::partialUpdate{RequestMethod::patch};
inline const RequestMethod RequestMethod::destroy{RequestMethod::delete_};

/// One HTTP request as a task: main() builds and starts it, and the task finishes when
/// handleResponse() — called once with what the session delivered — reaches this base version.
class JOBLARK_EXPORT HTTPRequestTask : public Task {
public:
    using Headers = std::map<std::string, std::string>;

    HTTPRequestTask();
    ~HTTPRequestTask() override;
    std::string className() const override { return "Joblark.HTTPRequestTask"; }

    virtual std::optional<URLRequest> request() const;
    virtual void setRequest(std::optional<URLRequest> request);
    virtual std::optional<HTTPURLResponse> response() const;
    virtual void setResponse(std::optional<HTTPURLResponse> response);

    virtual URLSession& session() const { return URLSession::shared(); }
    virtual Headers headers() const { return {}; }
    virtual RequestMethod method() const { return RequestMethod::get; }
    /// Abstract: stops the program with "Subclasses must implement this method."
    virtual URL url() const;
    virtual std::optional<Dictionary> parameters() const { return std::nullopt; }
    virtual std::optional<Data> requestBody() const { return std::nullopt; }
    /// Overrides must end by calling this version: it is what finishes the task.
    virtual void handleResponse(const std::optional<Data>& data,
                                const std::optional<HTTPURLResponse>& response, const ErrorPtr& error);
    virtual void progressDidChange(const Progress& progress, double fractionCompleted);

    void main() override;

private:
    void stopObservingProgress();

    std::optional<URLRequest> request_;
    std::optional<HTTPURLResponse> response_;
    std::shared_ptr<URLSessionDataTask> task_;
    std::optional<std::uint64_t> progressObservation_;
};

} // namespace joblark
