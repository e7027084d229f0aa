#pragma once

#include "main_window.h"
#include "page_server.h"
#include "test_data.h"
#include "window_doubles.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <memory>

namespace mizong::testing {

// The real window with recording doubles for its messages and links and a
// loopback server as its lookup service; the page view loads nothing unless
// `adjust`, which may change any option before the window is made, asks.
struct FormFixture
{
    RecordingMessenger messenger;
    RecordingOpener opener;
    PageServer server;
    std::unique_ptr<Form1> form;

    explicit FormFixture(const std::function<void(Form1::Options&)>& adjust = {})
    {
        Form1::Options options;
        options.serviceBase = server.start();
        options.homeSiteBase = QStringLiteral("http://home.invalid");
        options.embedBrowser = false;
        if (adjust)
            adjust(options);
        form = std::make_unique<Form1>(messenger, opener, options);
    }

    template <typename T = QWidget> T* child(const QString& name) const
    {
        T* widget = form->findChild<T*>(name);
        if (!widget)
            qFatal("no control %s", qPrintable(name));
        return widget;
    }

    void click(const QString& button) const
    {
        QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton);
    }

    // Clicks a start button and waits until that lookup's last step has run.
    void lookup(const QString& button) const
    {
        QSignalSpy done(form.get(), &Form1::lookupFinished);
        click(button);
        if (done.isEmpty())
            QVERIFY(done.wait(30000)); // liveness only
    }

    // A device lookup answered with this page of the test data.
    void deviceLookup(const QString& page)
    {
        server.setDefaultPage(dataFile(page));
        child<QLineEdit>(QStringLiteral("Text1(0)"))->setText(QStringLiteral("358805052512340"));
        lookup(QStringLiteral("Command3"));
    }

    // Shows the window and waits until it has the keyboard, as a user's has.
    void showActive() const
    {
        form->show();
        form->activateWindow();
        if (!QTest::qWaitForWindowActive(form.get()))
            qWarning("window not active");
    }
};

} // namespace mizong::testing
