#pragma once

// What the patch tier's tests share: pool nodes naming their files, names read back, collaborators that
// log, and keys sent where the platform sends them.

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

#include <concepts>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"
#include "support/app/TestApplication.h"

namespace patch_cases {

using Node = std::shared_ptr<DirectoryObject>;
using Names = std::vector<std::string>;
using Log = std::vector<std::string>;

inline std::shared_ptr<PatchItem> item(const std::string& name, const std::string& comment = {},
                                       const std::string& path = {})
{
    auto made = std::make_shared<PatchItem>();
    made->patchName = name;
    made->patchComment = comment;
    made->path = path;
    return made;
}

// A pool patch whose node and patch both name `folder`/`name`.qptc.
inline Node patchNode(const std::string& name, const std::string& folder = "/root/Temp/Local")
{
    auto node = std::make_shared<DirectoryObject>();
    node->name = name;
    node->path = folder + "/" + name + ".qptc";
    node->object = item(name, {}, *node->path);
    return node;
}

inline Node groupNode(const std::string& name, std::vector<Node> children = {}, bool backupAll = false)
{
    auto node = std::make_shared<DirectoryObject>();
    node->name = node->path = name;
    node->isGroup = true;
    node->isBackUpAllGroup = backupAll;
    node->childDirectories = std::move(children);
    return node;
}

inline Names names(const std::vector<Node>& nodes)
{
    Names out;
    for (const auto& node : nodes) out.push_back(node ? node->name.value_or("") : "-");
    return out;
}

inline Names names(const std::vector<std::shared_ptr<PatchItem>>& items)
{
    Names out;
    for (const auto& each : items) out.push_back(each ? each->patchName : "-");
    return out;
}

// ---- collaborators that log their name and arguments: "name arg arg" ----
inline void appendLogged(std::string& line, const std::string& text)
{
    if (!text.empty()) line += (line.empty() ? "" : " ") + text;
}
inline void appendLogged(std::string& line, const std::optional<std::string>& text)
{
    if (text) appendLogged(line, *text);
}
template <std::integral Number>
void appendLogged(std::string& line, Number number)
{
    appendLogged(line, std::to_string(number));
}
inline void appendLogged(std::string& line, const Node& node) { appendLogged(line, node ? node->name.value_or("?") : "-"); }
template <typename Each>
void appendLogged(std::string& line, const std::vector<Each>& list)
{
    for (const auto& each : list) appendLogged(line, each);
}

inline auto logs(Log& log, std::string name)
{
    return [&log, name](const auto&... arguments) {
        std::string line = name;
        (appendLogged(line, arguments), ...);
        log.push_back(line);
    };
}

// ---- keys and windows ----
inline void press(QWidget* to, int code, const QString& text = {}, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent event(QEvent::KeyPress, code, modifiers, text);
    QApplication::sendEvent(to, &event);
}

// Pressed and let go.
inline void tap(QWidget* to, int code, const QString& text = {}, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    press(to, code, text, modifiers);
    QKeyEvent event(QEvent::KeyRelease, code, modifiers, text);
    QApplication::sendEvent(to, &event);
}

// Each character as a key of its own, to whatever has the keys as it comes.
inline void type(const QString& text)
{
    for (const QChar typed : text) press(QApplication::focusWidget(), 0, QString(typed));
}

inline void click(QWidget* on, QPoint at, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    for (const auto kind : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(kind, at, on->mapToGlobal(at), Qt::LeftButton,
                          kind == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, modifiers);
        QApplication::sendEvent(on, &event);
    }
}

// Shown and made the active window; whether it became one.
inline bool activate(QWidget& window)
{
    window.show();
    window.activateWindow();
    return testing_app::processEventsUntil([&] { return window.isActiveWindow(); });
}

}  // namespace patch_cases
