#include "InfoPanels.h"

#include "EventLog.h"
#include "TabSupport.h"
#include "dialogs/OpenHyperlinkInBrowser.h"

#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace vornal {

EventLogPanel::EventLogPanel(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    eventLog_ = new EventLog(this);
    eventLog_->setObjectName(QStringLiteral("eventLog"));
    layout->addWidget(eventLog_);
}

AboutPanel::AboutPanel(const TabTexts& texts, const QString& versionLine, QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    aboutPane_ = new QTextBrowser(this);
    aboutPane_->setObjectName(QStringLiteral("aboutPane"));
    aboutPane_->setOpenLinks(false);
    aboutPane_->setOpenExternalLinks(false);
    aboutPane_->setHtml(QStringLiteral("<p>") + versionLine.trimmed().toHtmlEscaped() +
                        QStringLiteral("</p>") + texts.caption("aboutPane"));
    layout->addWidget(aboutPane_);
    connect(aboutPane_, &QTextBrowser::anchorClicked, this, &AboutPanel::aboutPaneHyperlinkUpdate);
}

void AboutPanel::aboutPaneHyperlinkUpdate(const QUrl& url) {
    DesktopLinks::openHyperlink(url.toString());
}

} // namespace vornal
