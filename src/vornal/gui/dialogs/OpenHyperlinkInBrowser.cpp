#include "OpenHyperlinkInBrowser.h"

#include "MessageBoxes.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMouseEvent>

namespace vornal {

using util::OpenHyperlinkInBrowser;

void DesktopLinks::install() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        OpenHyperlinkInBrowser::setBrowserOpener(
            [](const QUrl& url) { return QDesktopServices::openUrl(url); });
    OpenHyperlinkInBrowser::setErrorHandler([](const QString& title, const QString& message) {
        MessageBoxes::error(QApplication::activeWindow(), message, title);
    });
}

void DesktopLinks::openHyperlink(const QString& address) {
    OpenHyperlinkInBrowser::openHyperlink(address);
}

// ---- LinkMouseListener ----

LinkMouseListener::LinkMouseListener(QLabel* label) : QObject(label), label_(label) {
    label_->installEventFilter(this);
}

void LinkMouseListener::mouseClicked() {
    const QString text = label_->text();
    if (OpenHyperlinkInBrowser::containsHyperlink(text))
        OpenHyperlinkInBrowser::openHyperlink(OpenHyperlinkInBrowser::getPlainLink(text));
}

bool LinkMouseListener::eventFilter(QObject* watched, QEvent* event) {
    if (watched == label_ && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && label_->rect().contains(mouse->position().toPoint()))
            mouseClicked();
    }
    return QObject::eventFilter(watched, event);
}

// ---- JLabelHtml ----

JLabelHtml::JLabelHtml(const QString& text, QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::RichText);
    setWordWrap(true);
    // Clicks go to the listener; the label itself opens nothing.
    setOpenExternalLinks(false);
    setTextInteractionFlags(Qt::NoTextInteraction);
    if (OpenHyperlinkInBrowser::isBrowsingSupported())
        new LinkMouseListener(this);
    setText(text);
}

void JLabelHtml::setText(const QString& text) {
    const QString shown = OpenHyperlinkInBrowser::makeLinkable(text);
    QLabel::setText(shown);
    if (OpenHyperlinkInBrowser::containsHyperlink(shown))
        setCursor(Qt::PointingHandCursor);
    else
        unsetCursor();
}

} // namespace vornal
