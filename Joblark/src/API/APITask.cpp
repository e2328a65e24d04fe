#include "joblark/API/APITask.hpp"

#include "joblark/Foundation/JSON.hpp"
#include "joblark/Foundation/Log.hpp"
#include "joblark/Tasks/TaskController.hpp"
#include "joblark/Tasks/TaskLog.hpp"

namespace joblark {

APIError::APIError(std::optional<std::string> message, std::optional<std::int64_t> code)
    : message_(message ? std::move(message) : getMessage(code)), code_(code) {}

APIError APIError::fromResults(const std::optional<Dictionary>& results, std::optional<std::int64_t> code) {
    std::optional<std::string> message;
    std::optional<std::int64_t> bodyCode;
    if (results && !results->empty()) {
        if (auto it = results->find("message"); it != results->end() && it->second.asString())
            message = *it->second.asString();
        if (auto it = results->find("code"); it != results->end())
            bodyCode = it->second.asInteger();
    }
    APIError error(std::move(message), code ? code : bodyCode);
    return error;
}

std::optional<std::string> APIError::getMessage(std::optional<std::int64_t> code) {
    if (!code)
        return std::nullopt;
    auto c = *code;
    if (c >= 200 && c <= 299)
        return std::nullopt;
    switch (c) {
    case 401:
        return "Incorrect Credentials";
    case 403:
        return "Permission Denied";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Implemented";
    case 429:
        return "Enhance Your Calm";
    case 502:
    case 504:
        return "Quillnest is Down";
    default:
        break;
    }
    if (c >= 400 && c <= 499)
        return "Invalid Request";
    if (c >= 500 && c <= 599)
        return "Server Error Occurred";
    return std::nullopt;
}

std::string APIError::localizedDescription() const {
    return message_ ? *message_ : "No error message";
}

void APITaskDelegate::taskDidReceive(APITask&, const std::optional<Dictionary>&) {}
void APITaskDelegate::taskDidEncounter(APITask& task, const ErrorPtr& error) {
    TaskLog().notice("Task: %{PUBLIC}@ encountered error: %{PUBLIC}@", task.className(),
                     error ? error->localizedDescription() : std::string("(null)"));
}
void APITaskDelegate::taskDidProgress(APITask&, const Progress&) {}
void APITaskDelegate::taskDidFinishProcessing(APITask&) {}

std::optional<Dictionary> jsonLoads(const Data& data) {
    auto parsed = JSON::parse(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    if (!parsed) {
        Logger::general().write(LogLevel::defaultLevel, "Error fetching data, response was not valid JSON. " +
                                                            parsed.error()->localizedDescription());
        return std::nullopt;
    }
    if (auto* dictionary = parsed->asDictionary())
        return std::move(*dictionary);
    Logger::general().write(LogLevel::defaultLevel,
                            "Error fetching data, could not be converted to expected type.");
    return std::nullopt;
}

APITask::APITask() = default;

std::optional<Dictionary> APITask::results() const {
    return readField(results_);
}
void APITask::setResults(std::optional<Dictionary> results) {
    writeField(results_, std::move(results));
}
std::shared_ptr<APITaskDelegate> APITask::delegate() const {
    std::lock_guard lock(fieldsMutex_);
    return delegate_.lock();
}
void APITask::setDelegate(const std::shared_ptr<APITaskDelegate>& delegate) {
    writeField(delegate_, delegate);
}
bool APITask::requiresAuthentication() const {
    return readField(requiresAuthentication_);
}
void APITask::setRequiresAuthentication(bool value) {
    writeField(requiresAuthentication_, value);
}

void APITask::process(const std::optional<Dictionary>&) {}

HTTPRequestTask::Headers APITask::headers() const {
    Headers headers{{"Accept-Encoding", "gzip"}, {"Content-Type", "application/json"}};
    if (!requiresAuthentication())
        return headers;
    auto provider = authenticationProvider();
    if (!provider)
        return headers;
    if (auto credential = provider->credential())
        headers["Authorization"] = "Basic " + *credential;
    return headers;
}

std::optional<Data> APITask::requestBody() const {
    auto body = parameters();
    if (!body)
        return std::nullopt;
    auto json = JSON::write(Value(std::move(*body)));
    if (!json) {
        // Not recorded on the task: the request goes out without a body, and the delegate hears why.
        if (auto d = delegate())
            d->taskDidEncounter(const_cast<APITask&>(*this), json.error());
        return std::nullopt;
    }
    return Data(json->begin(), json->end());
}

void APITask::report(ErrorPtr error) {
    Task::report(error);
    if (auto d = delegate())
        d->taskDidEncounter(*this, error);
}

void APITask::progressDidChange(const Progress& progress, double) {
    if (auto d = delegate())
        d->taskDidProgress(*this, progress);
}

void APITask::handleResponse(const std::optional<Data>& data, const std::optional<HTTPURLResponse>& response,
                             const ErrorPtr& error) {
    setResponse(response);
    if (error)
        report(error);
    setResults(data ? jsonLoads(*data) : std::nullopt);
    // The stored results are handed on by reference: only this step writes them, and copying a
    // large body twice more cost more than parsing it.
    const std::optional<Dictionary>& parsed = results_;
    if (response && !response->ok())
        report(std::make_shared<APIError>(APIError::fromResults(parsed, response->statusCode)));
    auto d = delegate();
    if (parsed && d)
        d->taskDidReceive(*this, parsed);
    try {
        process(parsed);
    } catch (...) {
        report(currentExceptionAsError());
    }
    if (d)
        d->taskDidFinishProcessing(*this);
    setResult(errors().empty() ? TaskResult::succeeded() : TaskResult::failed());
    HTTPRequestTask::handleResponse(data, response, error);
}

static void assignDelegate(const TaskController::Operations& operations,
                           const std::shared_ptr<APITaskDelegate>& delegate, bool replace) {
    for (const auto& op : operations)
        if (auto* task = dynamic_cast<APITask*>(op.get()))
            if (replace || !task->delegate())
                task->setDelegate(delegate);
}

void TaskController::performInParallel(const Operations& operations,
                                       const std::shared_ptr<APITaskDelegate>& delegate,
                                       bool waitUntilFinished) {
    assignDelegate(operations, delegate, true);
    performInParallel(operations, waitUntilFinished);
}

void TaskController::performInSeries(const Operations& tasks,
                                     const std::shared_ptr<APITaskDelegate>& delegate,
                                     bool waitUntilFinished) {
    assignDelegate(tasks, delegate, false);
    performInSeries(tasks, waitUntilFinished);
}

void TaskController::perform(const std::shared_ptr<Operation>& task,
                             const std::shared_ptr<APITaskDelegate>& delegate, bool waitUntilFinished) {
    performInSeries(Operations{task}, delegate, waitUntilFinished);
}

} // namespace joblark
