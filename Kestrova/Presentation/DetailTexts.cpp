#include "Presentation/DetailTexts.hpp"

#include "joblark/Foundation/DateFormatter.hpp"
#include "joblark/Tasks/TaskController.hpp"

namespace kestrova::detail {

std::string timestampsText(const std::optional<joblark::Date>& updatedAt,
                           const std::optional<joblark::Date>& createdAt) {
    const joblark::DateFormatter formatter(joblark::DateStyle::mediumStyle, joblark::DateStyle::none);
    std::string text;
    if (updatedAt)
        text = "Last Updated: " + formatter.string(*updatedAt);
    if (createdAt)
        text += (text.empty() ? "" : "\n") + std::string("Created: ") + formatter.string(*createdAt);
    return text;
}

std::string recentBehaviorText(std::string_view noun, bool hasHistory, std::size_t okCount, std::size_t count,
                               const std::optional<std::string>& lastError) {
    const std::string issues = "This " + std::string(noun) + " has been experiencing issues";
    std::vector<std::string> lines;
    if (!hasHistory)
        lines.push_back(issues);
    else if (count > 0)
        lines.push_back(okCount == count ? "No recent issues" : issues);
    if (lastError)
        lines.push_back("Last known error:\n" + *lastError);
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i)
        text += (i ? ". " : "") + lines[i];
    return text + ".";
}

std::vector<joblark::ObserverToken> observeDetail(ViewController& pane, std::string_view changeNotification,
                                                  std::function<void(ViewController&)> onChange,
                                                  std::function<void(ViewController&)> onOwnSceneDisconnect) {
    auto& center = joblark::NotificationCenter::defaultCenter();
    std::weak_ptr<ViewController> weak = pane.sharedAs<ViewController>();
    std::vector<joblark::ObserverToken> tokens;
    tokens.push_back(center.addObserver(std::string(changeNotification), std::nullopt,
                                        [weak, onChange](const joblark::Notification&) {
                                            joblark::ensureMainThread([weak, onChange] {
                                                if (auto self = weak.lock())
                                                    onChange(*self);
                                            });
                                        }));
    tokens.push_back(center.addObserver(
        std::string(sceneDidDisconnectNotification), std::nullopt,
        [weak, onOwnSceneDisconnect](const joblark::Notification& notification) {
            joblark::ensureMainThread([weak, onOwnSceneDisconnect, object = notification.object] {
                auto self = weak.lock();
                if (self && self->isOwnScene(object))
                    onOwnSceneDisconnect(*self);
            });
        }));
    return tokens;
}

} // namespace kestrova::detail
