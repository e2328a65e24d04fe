#include "joblark/API/HTTPRequestTask.hpp"

#include "joblark/Tasks/TaskLog.hpp"

namespace joblark {

namespace {
constexpr std::string_view kMethodNames[] = {"GET", "POST", "PUT", "PATCH", "DELETE"};
constexpr double kRequestTimeout = 60.0;
} // namespace

std::optional<RequestMethod> RequestMethod::fromRawValue(std::string_view raw) {
    for (std::size_t i = 0; i < std::size(kMethodNames); ++i)
        if (kMethodNames[i] == raw)
            return RequestMethod(static_cast<Case>(i));
    return std::nullopt;
}

std::string_view RequestMethod::rawValue() const {
    return kMethodNames[case_];
}

HTTPRequestTask::HTTPRequestTask() = default;

HTTPRequestTask::~HTTPRequestTask() {
    stopObservingProgress();
}

std::optional<URLRequest> HTTPRequestTask::request() const {
    return readField(request_);
}
void HTTPRequestTask::setRequest(std::optional<URLRequest> request) {
    writeField(request_, std::move(request));
}
std::optional<HTTPURLResponse> HTTPRequestTask::response() const {
    return readField(response_);
}
void HTTPRequestTask::setResponse(std::optional<HTTPURLResponse> response) {
    writeField(response_, std::move(response));
}

URL HTTPRequestTask::url() const {
    fatalError("Subclasses must implement this method.");
}

void HTTPRequestTask::progressDidChange(const Progress&, double) {}

void HTTPRequestTask::main() {
    TaskLog().notice("%{PUBLIC}@ starting", debugDescription());
    URLRequest request{url()};
    request.timeoutInterval = kRequestTimeout;
    for (const auto& [field, value] : headers())
        request.addValue(value, field);
    request.httpMethod = std::string(method().rawValue());
    request.httpBody = requestBody();
    setRequest(request);

    auto self = sharedAs<HTTPRequestTask>(); // the completion keeps the task alive until it has run
    auto dataTask = session().dataTask(
        std::move(request), [self](std::optional<Data> data, std::optional<HTTPURLResponse> response,
                                   ErrorPtr error) { self->handleResponse(data, response, error); });
    std::weak_ptr<HTTPRequestTask> weakSelf = self;
    auto observation =
        dataTask->progress()->addObserver([weakSelf](const Progress& progress, double fraction) {
            if (auto task = weakSelf.lock())
                task->progressDidChange(progress, fraction);
        });
    {
        std::lock_guard lock(fieldsMutex_);
        task_ = dataTask;
        progressObservation_ = observation;
    }
    dataTask->resume();
}

void HTTPRequestTask::stopObservingProgress() {
    std::shared_ptr<URLSessionDataTask> dataTask;
    std::optional<std::uint64_t> observation;
    {
        std::lock_guard lock(fieldsMutex_);
        dataTask = task_;
        observation = std::exchange(progressObservation_, std::nullopt);
    }
    if (dataTask && observation)
        dataTask->progress()->removeObserver(*observation);
}

void HTTPRequestTask::handleResponse(const std::optional<Data>&, const std::optional<HTTPURLResponse>&,
                                     const ErrorPtr&) {
    TaskLog().notice("%{PUBLIC}@ complete", debugDescription());
    stopObservingProgress();
    setState(State::Finished);
}

} // namespace joblark
