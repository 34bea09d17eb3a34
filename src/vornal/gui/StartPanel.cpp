#include "StartPanel.h"

#include "TabSupport.h"

#include "vornal/config/Config.h"
#include "vornal/util/MessageFormat.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vornal {

using config::ConfigHelper;

StartPanel::StartPanel(const TabTexts& texts, QWidget* parent) : QWidget(parent), texts_(texts) {
    auto* layout = new QVBoxLayout(this);
    layout->addStretch(1);
    startStop_ = new QPushButton(this);
    startStop_->setObjectName(QStringLiteral("startStopJButton"));
    startStop_->setText(TabTexts::withMnemonic(texts.caption("startStopJButton"), u'T'));
    startStop_->setMinimumSize(220, 64);
    QFont f = startStop_->font();
    f.setPointSizeF(f.pointSizeF() * 1.6);
    f.setBold(true);
    startStop_->setFont(f);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(startStop_);
    row->addStretch(1);
    layout->addLayout(row);
    request_ = new QPushButton(texts.text(QStringLiteral("readings.request")), this);
    request_->setObjectName(QStringLiteral("requestButton"));
    request_->setToolTip(texts.text(QStringLiteral("readings.request.toolTip")));
    request_->setEnabled(false);
    auto* requestRow = new QHBoxLayout;
    requestRow->addStretch(1);
    requestRow->addWidget(request_);
    requestRow->addStretch(1);
    layout->addLayout(requestRow);
    // What a start will use, and a hint where values would run together.
    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("startSummaryLabel"));
    summary_->setAlignment(Qt::AlignHCenter);
    summary_->setWordWrap(true);
    hint_ = new QLabel(this);
    hint_->setObjectName(QStringLiteral("startHintLabel"));
    hint_->setAlignment(Qt::AlignHCenter);
    hint_->setWordWrap(true);
    hint_->setStyleSheet(QStringLiteral("QLabel { color: #8a5a00; }"));
    layout->addWidget(summary_);
    layout->addWidget(hint_);
    layout->addStretch(1);
}

void StartPanel::showSummary(const config::Config& config) {
    const auto instrument = config.getInstrument().value_or(ConfigHelper::Instrument::getDefault());
    const QString port =
        config.getPort().isEmpty() ? texts_.text(QStringLiteral("start.summary.noPort")) : config.getPort();
    summary_->setText(util::MessageFormat::format(texts_.text(QStringLiteral("start.summary.0.1.2")), port,
                                                  instrument.toPlainString(),
                                                  config.getOutputTerminator().toString()));
    // Nothing between two values: the target receives 12.34512.349...
    const bool runTogether = config.getOutputTerminator() == ConfigHelper::OutputTerminator::NONE &&
                             config.getStartWith() == ConfigHelper::StartWith::NONE;
    hint_->setText(runTogether ? texts_.text(QStringLiteral("start.hint.noTerminator")) : QString());
    hint_->setVisible(runTogether);
}

} // namespace vornal
