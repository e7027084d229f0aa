#pragma once

#include "messenger.h"

#include <QList>
#include <QStringList>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <functional>

namespace mizong::testing {

// Records every message; `whileOpen` runs as if the user took a while to read
// it (it may spin the event loop).
class RecordingMessenger final : public Messenger
{
public:
    void inform(QWidget* parent, const QString& text) override
    {
        QVERIFY(parent != nullptr);
        messages.append(text);
        ++open;
        maxOpen = std::max(maxOpen, open);
        if (whileOpen)
            whileOpen(text);
        --open;
    }

    QStringList messages;
    int open = 0;
    int maxOpen = 0;
    std::function<void(const QString&)> whileOpen;
};

// Records the addresses it is asked to open; fails them all when told to.
class RecordingOpener final : public LinkOpener
{
public:
    bool open(const QUrl& url) override
    {
        opened.append(url);
        return succeed;
    }

    QList<QUrl> opened;
    bool succeed = true;
};

} // namespace mizong::testing
