#pragma once

#include "vornal/util/Links.h"

#include <QLabel>
#include <QObject>
#include <QString>

namespace vornal {

// The desktop side of the link helpers (vornal::util::OpenHyperlinkInBrowser): the browser call, the
// error dialog, the click listener for labels and the HTML label.
class DesktopLinks {
public:
    // Installs QDesktopServices::openUrl as the browser opener (when a GUI application runs) and the
    // error dialog "A problem occured" (through MessageBoxes, owned by the active window). The window
    // calls it once at start-up.
    static void install();
    // Opens `address` off the user-interface thread; the About page's hyperlink handler calls it.
    static void openHyperlink(const QString& address);
};

// Opens the link of a clicked label, when its text holds one (the label's text as shown, HTML).
class LinkMouseListener : public QObject {
public:
    explicit LinkMouseListener(QLabel* label);
    // The label was clicked: opens the plain link of its text; does nothing without one.
    void mouseClicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* label_;
};

// A label that shows its text as HTML with the web address in it made clickable.
class JLabelHtml : public QLabel {
    Q_OBJECT
public:
    explicit JLabelHtml(const QString& text = QString(), QWidget* parent = nullptr);
    // Shows OpenHyperlinkInBrowser::makeLinkable(text).
    void setText(const QString& text);
};

} // namespace vornal
