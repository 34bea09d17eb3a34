#include "CustomRegExDialog.h"

#include "DialogTexts.h"
#include "MessageBoxes.h"
#include "OpenHyperlinkInBrowser.h"
#include "vornal/config/Config.h"
#include "vornal/config/RegexDialect.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSplitter>
#include <QTextEdit>
#include <QVBoxLayout>

namespace vornal {

using config::ConfigHelper;

namespace {
QString t(const char* key) {
    return DialogTexts::text(QString::fromLatin1(key));
}

// A received line as the event log shows it: control characters as their code in angle brackets.
QString visible(QStringView text) {
    QString out;
    for (const QChar c : text) {
        if (c.unicode() < 32 || c.unicode() == 127)
            out += u'<' + QString::number(c.unicode()) + u'>';
        else
            out += c;
    }
    return out.toHtmlEscaped();
}
} // namespace

CustomRegExDialog::CustomRegExDialog(QWidget* owner, const QString& initial,
                                     std::optional<ConfigHelper::Instrument> instrument,
                                     const QStringList& receivedLines)
    : QDialog(owner), regEx_(initial), instrument_(instrument), receivedLines_(receivedLines) {
    initComponents();
    regExTextArea_->setPlainText(initial);
    updateTestArea();
}

void CustomRegExDialog::initComponents() {
    setWindowTitle(t("CustomRegExDialog.this.title"));
    setModal(true);

    label2_ = new JLabelHtml(t("CustomRegExDialog.label2.text"), this);
    label3_ = new JLabelHtml(t("CustomRegExDialog.label3.text"), this);
    label4_ = new JLabelHtml(t("CustomRegExDialog.label4.text"), this);

    regExTextArea_ = new QPlainTextEdit(this);
    regExTextArea_->setObjectName(QStringLiteral("regExTextArea"));
    regExTextArea_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    regExTextArea_->setTabChangesFocus(true);
    connect(regExTextArea_, &QPlainTextEdit::textChanged, this, &CustomRegExDialog::updateTestArea);

    auto* testLabel = new QLabel(t("CustomRegExDialog.test.title"), this);
    testArea_ = new QTextEdit(this);
    testArea_->setObjectName(QStringLiteral("testArea"));
    testArea_->setReadOnly(true);
    testLabel->setBuddy(testArea_);

    buttonBar_ = new QDialogButtonBox(this);
    okButton_ = buttonBar_->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    cancelButton_ =
        buttonBar_->addButton(t("CustomRegExDialog.cancelButton.text"), QDialogButtonBox::RejectRole);
    okButton_->setDefault(true);
    connect(okButton_, &QPushButton::clicked, this, &CustomRegExDialog::okButtonActionPerformed);
    connect(cancelButton_, &QPushButton::clicked, this, &CustomRegExDialog::cancelButtonActionPerformed);

    auto* dialogPane = new QVBoxLayout(this);
    dialogPane->addWidget(label2_);
    dialogPane->addWidget(regExTextArea_, 1);
    dialogPane->addWidget(label3_);
    dialogPane->addWidget(label4_);
    dialogPane->addWidget(testLabel);
    dialogPane->addWidget(testArea_, 2);
    dialogPane->addWidget(buttonBar_);
    resize(640, 520);
}

QString CustomRegExDialog::initialText(const config::Config& config) {
    if (!config.getCustomRegEx().isEmpty())
        return config.getCustomRegEx();
    const auto instrument = config.getInstrument();
    return instrument ? instrument->getPattern() : QString();
}

bool CustomRegExDialog::edit(QWidget* owner, config::Config& config, const QStringList& receivedLines) {
    const QString initial = initialText(config);
    CustomRegExDialog dialog(owner, initial, config.getInstrument(), receivedLines);
    dialog.exec();
    if (dialog.getRegEx() == initial)
        return false;
    config.setCustomRegEx(dialog.getRegEx());
    return true;
}

void CustomRegExDialog::okButtonActionPerformed() {
    const QString text = regExTextArea_->toPlainText();
    // An expression without any capturing group compiles but could never give a value: refused too.
    const bool usable =
        ConfigHelper::CustomRegEx::valid(text) && (text.isEmpty() || patternProblem(text).isEmpty());
    if (!usable) {
        MessageBoxes::error(this, t("invalid.expression"), t("error"));
        return;
    }
    regEx_ = text;
    QDialog::accept();
}

void CustomRegExDialog::cancelButtonActionPerformed() {
    close();
}

void CustomRegExDialog::close() {
    QDialog::reject();
}

QString CustomRegExDialog::patternProblem(const QString& pattern) {
    const QRegularExpression re = config::compileInstrumentPattern(pattern);
    if (!re.isValid())
        return t("CustomRegExDialog.test.invalid") + u' ' + re.errorString();
    if (re.captureCount() < 1)
        return t("CustomRegExDialog.test.noGroup");
    return QString();
}

CustomRegExDialog::Extraction CustomRegExDialog::extract(const QString& pattern, const QString& line) {
    Extraction e;
    const QString problem = patternProblem(pattern);
    if (!problem.isEmpty()) {
        e.reason = problem;
        return e;
    }
    const QRegularExpression re = config::compileInstrumentPattern(pattern);
    const QRegularExpressionMatch m = re.match(line);
    if (!m.isValid()) {
        e.reason = t("CustomRegExDialog.test.tooComplex");
        return e;
    }
    if (!m.hasMatch()) {
        e.reason = t("CustomRegExDialog.test.noMatch");
        return e;
    }
    if (m.capturedStart(1) < 0) {
        e.reason = t("CustomRegExDialog.test.groupNotMatched");
        return e;
    }
    e.found = true;
    e.value = m.captured(1);
    e.start = m.capturedStart(1);
    return e;
}

QString CustomRegExDialog::lineHtml(const QString& line, const Extraction& e) const {
    // Verbatim: a run of blanks in a line stays as received.
    QString html = QStringLiteral("<tr><td style=\"white-space:pre\"><code>");
    if (e.found) {
        html += visible(QStringView(line).left(e.start));
        html += QStringLiteral("<b style=\"background-color:#ffe27a\">") + visible(e.value) +
                QStringLiteral("</b>");
        html += visible(QStringView(line).mid(e.start + e.value.size()));
        html += QStringLiteral("</code></td><td style=\"white-space:pre\">&rarr; <b>") + visible(e.value) +
                QStringLiteral("</b></td></tr>");
    } else {
        html += visible(line);
        html += QStringLiteral("</code></td><td><i style=\"color:#a00000\">") + e.reason.toHtmlEscaped() +
                QStringLiteral("</i></td></tr>");
    }
    return html;
}

void CustomRegExDialog::updateTestArea() {
    QString pattern = regExTextArea_->toPlainText();
    QString html;
    if (pattern.isEmpty()) {
        // An empty custom expression means the instrument's own.
        html += QStringLiteral("<p><i>") + t("CustomRegExDialog.test.presetUsed").toHtmlEscaped() +
                QStringLiteral("</i></p>");
        pattern = instrument_ ? instrument_->getPattern() : QString();
    }
    const QString problem = patternProblem(pattern);
    if (!problem.isEmpty()) {
        html += QStringLiteral("<p style=\"color:#a00000\"><b>") + problem.toHtmlEscaped() +
                QStringLiteral("</b></p>");
        testArea_->setHtml(html);
        return;
    }
    if (!ConfigHelper::CustomRegEx::valid(pattern))
        html += QStringLiteral("<p style=\"color:#a00000\"><b>") + t("invalid.expression").toHtmlEscaped() +
                QStringLiteral("</b></p>");
    for (const QString& warning : config::instrumentRegexWarnings(pattern))
        html += QStringLiteral("<p style=\"color:#8a5a00\">") +
                t("CustomRegExDialog.test.warning").toHtmlEscaped() + u' ' + warning.toHtmlEscaped() +
                QStringLiteral("</p>");

    QStringList samples;
    if (instrument_)
        for (const auto& sample : instrument_->getTestStrings())
            if (!sample.line.isEmpty())
                samples << sample.line;
    const auto section = [&](const QString& title, const QStringList& lines) {
        html += QStringLiteral("<p><b>") + title.toHtmlEscaped() + QStringLiteral("</b></p>");
        if (lines.isEmpty()) {
            html += QStringLiteral("<p><i>") + t("CustomRegExDialog.test.noLines").toHtmlEscaped() +
                    QStringLiteral("</i></p>");
            return;
        }
        html += QStringLiteral("<table cellspacing=\"4\">");
        for (const QString& line : lines)
            html += lineHtml(line, extract(pattern, line));
        html += QStringLiteral("</table>");
    };
    section(t("CustomRegExDialog.test.samples") +
                (instrument_ ? u' ' + instrument_->toPlainString() : QString()),
            samples);
    section(t("CustomRegExDialog.test.received"), receivedLines_);
    testArea_->setHtml(html);
}

} // namespace vornal
