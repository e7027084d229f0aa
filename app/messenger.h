#pragma once

#include <QString>
#include <QStringView>

class QUrl;
class QWidget;

namespace mizong {

// Title of every message the window shows.
inline constexpr QStringView kMessageTitle = u"友情提示";

// How the window tells the user something: a modal information message with
// one OK button; inform() returns once the user has closed it. The window is
// given one, so tests can record and answer the messages.
class Messenger
{
public:
    virtual ~Messenger() = default;
    virtual void inform(QWidget* parent, const QString& text) = 0;
};

class MessageBoxMessenger final : public Messenger
{
public:
    void inform(QWidget* parent, const QString& text) override;
};

// Opens an address in the user's web browser; false when that failed.
class LinkOpener
{
public:
    virtual ~LinkOpener() = default;
    virtual bool open(const QUrl& url) = 0;
};

class DesktopLinkOpener final : public LinkOpener
{
public:
    bool open(const QUrl& url) override;
};

} // namespace mizong
