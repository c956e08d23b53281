#include "app/ui/header/CapsuleButtonStyle.hpp"

#include "app/ui/assets/Assets.hpp"

#include <QPainter>
#include <QStyleFactory>
#include <QStyleOptionButton>

#include <algorithm>

namespace marrowdale {

CapsuleButtonStyle::CapsuleButtonStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

QSize CapsuleButtonStyle::sizeFromContents(ContentsType type, const QStyleOption* option,
                                           const QSize& contentsSize, const QWidget* widget) const {
    if (type != CT_PushButton) {
        return QProxyStyle::sizeFromContents(type, option, contentsSize, widget);
    }
    // The label padded on every side, never narrower than the minimum; no frame of the base style.
    return QSize(std::max(contentsSize.width() + 2 * horizontalPadding, minimumWidth),
                 contentsSize.height() + 2 * verticalPadding);
}

void CapsuleButtonStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                     const QWidget* widget) const {
    const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
    if (element != CE_PushButton || button == nullptr) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    const bool enabled = option->state.testFlag(State_Enabled);
    const bool pressed = option->state.testFlag(State_Sunken);
    const qreal opacity = enabled ? 1.0 : disabledOpacity;
    const QRectF frame = QRectF(option->rect);
    const qreal radius = std::min({cornerRadius, frame.height() / 2, frame.width() / 2});

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(assets::accentColor.color());
    // Pressing dims the background only; the label keeps its strength.
    painter->setOpacity(opacity * (pressed ? pressedBackgroundOpacity : 1.0));
    painter->drawRoundedRect(frame, radius, radius);

    painter->setOpacity(opacity);
    const QColor textColor = assets::capsuleButtonTextColor.color();
    if (option->state.testFlag(State_HasFocus) && option->state.testFlag(State_KeyboardFocusChange)) {
        // Keyboard users still see where they are.
        painter->setPen(QPen(textColor, 1.5));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(frame.adjusted(2, 2, -2, -2), radius - 2, radius - 2);
    }
    painter->setPen(textColor);
    painter->drawText(frame, Qt::AlignCenter | Qt::TextShowMnemonic | Qt::TextSingleLine, button->text);
    painter->restore();
}

} // namespace marrowdale
