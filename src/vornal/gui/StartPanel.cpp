#include "StartPanel.h"

#include "TabSupport.h"

#include "vornal/config/Config.h"
#include "vornal/util/MessageFormat.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace vornal {

using config::ConfigHelper;

namespace {
enum Column { NameColumn = 0, PortColumn, StateColumn, ValueColumn, ButtonColumn, ColumnCount };
}

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

    // The station's instruments (shown from the second one on).
    station_ = new QWidget(this);
    station_->setObjectName(QStringLiteral("stationBox"));
    auto* stationLayout = new QVBoxLayout(station_);
    stationLayout->setContentsMargins(0, 0, 0, 0);
    table_ = new QTreeWidget(station_);
    table_->setObjectName(QStringLiteral("profileTable"));
    table_->setRootIsDecorated(false);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setColumnCount(ColumnCount);
    table_->setHeaderLabels({texts.text(QStringLiteral("start.profiles.column.name")),
                             texts.text(QStringLiteral("start.profiles.column.port")),
                             texts.text(QStringLiteral("start.profiles.column.state")),
                             texts.text(QStringLiteral("start.profiles.column.value")), QString()});
    table_->header()->setStretchLastSection(false);
    table_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->header()->setSectionResizeMode(ValueColumn, QHeaderView::Stretch);
    table_->setContextMenuPolicy(Qt::CustomContextMenu);
    stationLayout->addWidget(table_);
    auto* allRow = new QHBoxLayout;
    startAll_ = new QPushButton(texts.text(QStringLiteral("start.profiles.startAll")), station_);
    startAll_->setObjectName(QStringLiteral("startAllButton"));
    stopAll_ = new QPushButton(texts.text(QStringLiteral("start.profiles.stopAll")), station_);
    stopAll_->setObjectName(QStringLiteral("stopAllButton"));
    allRow->addWidget(startAll_);
    allRow->addWidget(stopAll_);
    allRow->addStretch(1);
    stationLayout->addLayout(allRow);
    layout->addWidget(station_, 3);

    auto* editRow = new QHBoxLayout;
    add_ = new QPushButton(texts.text(QStringLiteral("start.profiles.add")), this);
    add_->setObjectName(QStringLiteral("addProfileButton"));
    add_->setToolTip(texts.text(QStringLiteral("start.profiles.add.toolTip")));
    rename_ = new QPushButton(texts.text(QStringLiteral("start.profiles.rename")), this);
    rename_->setObjectName(QStringLiteral("renameProfileButton"));
    remove_ = new QPushButton(texts.text(QStringLiteral("start.profiles.remove")), this);
    remove_->setObjectName(QStringLiteral("removeProfileButton"));
    editRow->addStretch(1);
    editRow->addWidget(add_);
    editRow->addWidget(rename_);
    editRow->addWidget(remove_);
    layout->addLayout(editRow);
    layout->addStretch(1);
    station_->setVisible(false);
    rename_->setVisible(false);
    remove_->setVisible(false);

    connect(table_, &QTreeWidget::currentItemChanged, this, [this] {
        if (const int at = currentIndex(); at >= 0)
            emit profileSelected(at);
    });
    connect(table_, &QWidget::customContextMenuRequested, this, &StartPanel::showContextMenu);
    connect(add_, &QPushButton::clicked, this, &StartPanel::addRequested);
    connect(rename_, &QPushButton::clicked, this,
            [this] { emit renameRequested(std::max(0, currentIndex())); });
    connect(remove_, &QPushButton::clicked, this, [this] {
        if (const int at = currentIndex(); at >= 0)
            emit removeRequested(at);
    });
    connect(startAll_, &QPushButton::clicked, this, &StartPanel::startAllRequested);
    connect(stopAll_, &QPushButton::clicked, this, &StartPanel::stopAllRequested);
}

int StartPanel::currentIndex() const {
    return table_->indexOfTopLevelItem(table_->currentItem());
}

void StartPanel::showProfiles(const std::vector<Row>& rows, int selected) {
    const QSignalBlocker block(table_);
    table_->clear();
    // A station of one shows no list (and no second Start button).
    const int shown = rows.size() > 1 ? int(rows.size()) : 0;
    for (int i = 0; i < shown; ++i) {
        auto* item = new QTreeWidgetItem(table_);
        auto* button = new QPushButton(table_);
        button->setObjectName(QStringLiteral("profileStartStop%1").arg(i));
        connect(button, &QPushButton::clicked, this, [this, i] { emit startStopRequested(i); });
        table_->setItemWidget(item, ButtonColumn, button);
        updateRow(i, rows[size_t(i)]);
    }
    if (selected >= 0 && selected < shown)
        table_->setCurrentItem(table_->topLevelItem(selected));
    const bool several = rows.size() > 1;
    station_->setVisible(several);
    rename_->setVisible(several);
    remove_->setVisible(several);
}

void StartPanel::updateRow(int index, const Row& row) {
    QTreeWidgetItem* item = table_->topLevelItem(index);
    if (!item)
        return;
    item->setText(NameColumn, row.name);
    item->setText(PortColumn, row.port);
    item->setText(StateColumn, row.state);
    item->setText(ValueColumn, row.lastValue);
    if (auto* button = qobject_cast<QPushButton*>(table_->itemWidget(item, ButtonColumn)))
        button->setText(texts_.text(row.active ? QStringLiteral("start.profiles.stop")
                                               : QStringLiteral("start.profiles.start")));
}

void StartPanel::setCanAdd(bool can) {
    add_->setEnabled(can);
}

void StartPanel::showContextMenu(const QPoint& at) {
    QTreeWidgetItem* item = table_->itemAt(at);
    const int index = table_->indexOfTopLevelItem(item);
    QMenu menu(this);
    if (index >= 0) {
        const auto* button = qobject_cast<QPushButton*>(table_->itemWidget(item, ButtonColumn));
        menu.addAction(button ? button->text() : texts_.text(QStringLiteral("start.profiles.start")), this,
                       [this, index] { emit startStopRequested(index); });
        menu.addAction(texts_.text(QStringLiteral("start.profiles.rename")), this,
                       [this, index] { emit renameRequested(index); });
        menu.addAction(texts_.text(QStringLiteral("start.profiles.remove")), this,
                       [this, index] { emit removeRequested(index); });
        menu.addSeparator();
    }
    QAction* add = menu.addAction(texts_.text(QStringLiteral("start.profiles.add")), this,
                                  [this] { emit addRequested(); });
    add->setEnabled(add_->isEnabled());
    menu.exec(table_->viewport()->mapToGlobal(at));
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
