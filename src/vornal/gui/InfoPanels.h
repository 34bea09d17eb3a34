#pragma once

#include <QWidget>

class QTextBrowser;
class QUrl;

namespace vornal {

class EventLog;
class TabTexts;

// The Event log tab.
class EventLogPanel : public QWidget {
    Q_OBJECT
public:
    explicit EventLogPanel(QWidget* parent = nullptr);
    EventLog* eventLog() const { return eventLog_; }

private:
    EventLog* eventLog_;
};

// The About tab: the version line and the program's information, with links that open in the
// browser.
class AboutPanel : public QWidget {
    Q_OBJECT
public:
    AboutPanel(const TabTexts& texts, const QString& versionLine, QWidget* parent = nullptr);
    QTextBrowser* aboutPane() const { return aboutPane_; }
    // In the standard browser, off the user-interface thread; only web addresses are opened, anything
    // else is refused with the "A problem occured" dialog.
    static void aboutPaneHyperlinkUpdate(const QUrl& url);

private:
    QTextBrowser* aboutPane_;
};

} // namespace vornal
