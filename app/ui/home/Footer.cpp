#include "app/ui/home/Footer.hpp"

#include "app/ui/assets/Assets.hpp"
#include "app/ui/home/DiskSpaceGraph.hpp"
#include "app/ui/home/FooterPresentation.hpp"
#include "app/ui/observation/ObservationBridge.hpp"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace marrowdale {
namespace {

constexpr int barHeight = 46;
constexpr double bubbleSpacing = 4;
constexpr double minBubbleSize = 150;

const QFont& footerFont() {
    static const QFont font = [] {
        QFont f = QApplication::font();
        f.setPixelSize(24);
        f.setWeight(QFont::DemiBold);
        return f;
    }();
    return font;
}

QString rgba(const QColor& color, double opacity) {
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alphaF() * opacity);
}

} // namespace

Footer::Footer(std::shared_ptr<Cleaner> cleaner, QWidget* parent)
    : QWidget(parent), cleaner_(std::move(cleaner)),
      graph_(new DiskSpaceGraph(0, 0, bubbleSpacing, minBubbleSize)), placeholder_(new QWidget),
      name_(new QLabel), separator_(new QLabel(QStringLiteral("-"))), total_(new QLabel),
      bridge_(new ObservationBridge([this] { refresh(); }, this)) {
    placeholder_->setObjectName(QStringLiteral("diskSpacePlaceholder"));
    placeholder_->setAttribute(Qt::WA_StyledBackground);
    placeholder_->setStyleSheet(
        QStringLiteral("#diskSpacePlaceholder { background: %1; border-radius: 16px; }")
            .arg(rgba(assets::diskSegmentedViewUsed.color(), 0.5)));

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(0, 0, 0, 0);
    bar->addWidget(graph_);
    bar->addWidget(placeholder_);
    auto* barRow = new QWidget;
    barRow->setFixedHeight(barHeight);
    barRow->setLayout(bar);

    auto* tick = new QWidget;
    tick->setObjectName(QStringLiteral("volumeTick"));
    tick->setAttribute(Qt::WA_StyledBackground);
    tick->setFixedSize(2, 31);
    tick->setStyleSheet(QStringLiteral("#volumeTick { background: %1; border-radius: 1px; }")
                            .arg(palette().color(QPalette::WindowText).name()));

    auto* line = new QHBoxLayout;
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(4);
    for (QLabel* label : {name_, separator_, total_}) {
        label->setTextFormat(Qt::PlainText);
        label->setFont(footerFont());
        line->addWidget(label);
    }
    line->addStretch(1);

    auto* nameBlock = new QVBoxLayout;
    nameBlock->setContentsMargins(16, 0, 0, 0);
    nameBlock->addWidget(tick);
    nameBlock->addLayout(line);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(barRow);
    column->addLayout(nameBlock);

    bridge_->observe(cleaner_);
    refresh();
}

void Footer::present(const FooterPresentation& shown) {
    graph_->setVisible(shown.showsGraph);
    placeholder_->setVisible(!shown.showsGraph);
    if (shown.showsGraph) {
        graph_->setCapacities(shown.totalCapacity, shown.availableCapacity);
    }
    name_->setText(shown.name);
    separator_->setVisible(shown.total.has_value());
    total_->setVisible(shown.total.has_value());
    total_->setText(shown.total.value_or(QString()));
}

void Footer::flush() {
    bridge_->flush();
}

void Footer::refresh() {
    present(presentFooter(cleaner_->mainVolumeName(), cleaner_->volumeTotalCapacity(),
                          cleaner_->volumeAvailableCapacityForImportantUsage()));
}

} // namespace marrowdale
