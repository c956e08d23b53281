#include "app/ui/header/Header.hpp"

#include "app/ui/assets/Assets.hpp"
#include "app/ui/header/CapsuleButtonStyle.hpp"
#include "app/ui/header/HeaderPresentation.hpp"
#include "app/ui/header/ScanButton.hpp"
#include "app/ui/observation/ObservationBridge.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

namespace marrowdale {

Header::Header(std::shared_ptr<Cleaner> cleaner, QWidget* parent)
    : QWidget(parent), cleaner_(std::move(cleaner)), buttonStyle_(std::make_unique<CapsuleButtonStyle>()),
      scanButton_(new ScanButton(cleaner_)), status_(new QLabel),
      bridge_(new ObservationBridge([this] { refresh(); }, this)) {
    auto* logo = new QLabel;
    logo->setPixmap(QPixmap::fromImage(assets::brandLogo.image(devicePixelRatioF())));
    logo->setFixedSize(assets::brandLogo.naturalSize());

    scanButton_->setStyle(buttonStyle_.get());
    status_->setTextFormat(Qt::PlainText);
    status_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto* action = new QVBoxLayout;
    action->setContentsMargins(0, 0, 0, 0);
    action->addWidget(scanButton_, 0, Qt::AlignRight);
    action->addWidget(status_, 0, Qt::AlignRight);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(logo, 0, Qt::AlignTop);
    row->addStretch(1);
    row->addLayout(action);
    row->setAlignment(action, Qt::AlignTop);

    bridge_->observe(cleaner_);
    refresh();
}

// The button goes before the style it is drawn with.
Header::~Header() {
    delete scanButton_;
}

void Header::flush() {
    scanButton_->flush();
    bridge_->flush();
}

void Header::refresh() {
    status_->setText(presentHeader(*cleaner_).status);
}

} // namespace marrowdale
