#include "nav_button.h"

#include <QPainter>
#include <QPolygon>

namespace {

template <typename T>
bool assignIfChanged(T& field, const T& value) {
    if (field == value) return false;
    field = value;
    return true;
}

// QPixmap has no equality; two pixmaps are the same when they share their data.
bool assignIfChanged(QPixmap& field, const QPixmap& value) {
    if (field.cacheKey() == value.cacheKey()) return false;
    field = value;
    return true;
}

}  // namespace

NavButton::NavButton(QWidget* parent) : QPushButton(parent) { setCheckable(true); }

NavButton::PaintState NavButton::paintState() const {
    if (!isEnabled()) return PaintState::Disabled;
    if (isChecked()) return PaintState::Checked;
    if (hover_) return PaintState::Hover;
    return PaintState::Normal;
}

QSize NavButton::sizeHint() const { return QSize(100, 30); }

QSize NavButton::minimumSizeHint() const { return QSize(20, 10); }

void NavButton::enterEvent(QEvent* event) {
    hover_ = true;
    update();
    QPushButton::enterEvent(event);
}

void NavButton::leaveEvent(QEvent* event) {
    hover_ = false;
    update();
    QPushButton::leaveEvent(event);
}

void NavButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    drawBg(&painter);
    drawText(&painter);
    drawIcon(&painter);
    drawLine(&painter);
    drawTriangle(&painter);
}

void NavButton::drawBg(QPainter* painter) {
    painter->save();
    painter->setPen(Qt::NoPen);

    const int w = width();
    const int h = height();
    QRect bg_rect;
    switch (linePosition_) {
        case LinePosition_Left:
            bg_rect = QRect(lineSpace_, 0, w - lineSpace_, h);
            break;
        case LinePosition_Right:
            bg_rect = QRect(0, 0, w - lineSpace_, h);
            break;
        case LinePosition_Top:
            bg_rect = QRect(0, lineSpace_, w, h - lineSpace_);
            break;
        case LinePosition_Bottom:
            bg_rect = QRect(0, 0, w, h - lineSpace_);
            break;
    }

    const QBrush* brush = &normalBgBrush_;
    QColor color = normalBgColor_;
    switch (paintState()) {
        case PaintState::Disabled:
            brush = &disableBgBrush_;
            color = disableBgColor_;
            break;
        case PaintState::Checked:
            brush = &checkBgBrush_;
            color = checkBgColor_;
            break;
        case PaintState::Hover:
            brush = &hoverBgBrush_;
            color = hoverBgColor_;
            break;
        case PaintState::Normal:
            break;
    }
    if (brush->style() == Qt::NoBrush) {
        // An unset (invalid) colour paints nothing rather than the black an invalid QColor
        // would give.
        if (color.isValid()) painter->setBrush(color);
    } else {
        painter->setBrush(*brush);
    }
    painter->drawRect(bg_rect);
    painter->restore();
}

void NavButton::drawText(QPainter* painter) {
    painter->save();
    painter->setBrush(Qt::NoBrush);

    QColor color = normalTextColor_;
    switch (paintState()) {
        case PaintState::Disabled:
            color = disableTextColor_;
            break;
        case PaintState::Checked:
            color = checkTextColor_;
            break;
        case PaintState::Hover:
            color = hoverTextColor_;
            break;
        case PaintState::Normal:
            break;
    }
    if (!color.isValid()) color = palette().color(QPalette::Disabled, QPalette::ButtonText);
    painter->setPen(color);

    const QRect text_rect(paddingLeft_, paddingTop_, width() - paddingLeft_ - paddingRight_,
                          height() - paddingTop_ - paddingBottom_);
    painter->drawText(text_rect, static_cast<int>(textAlign_) | Qt::AlignVCenter, text());
    painter->restore();
}

void NavButton::drawIcon(QPainter* painter) {
    if (!showIcon_) return;

    QPixmap pix = iconNormal_;
    switch (paintState()) {
        case PaintState::Disabled:
            pix = iconDisable_;
            break;
        case PaintState::Checked:
            pix = iconCheck_;
            break;
        case PaintState::Hover:
            pix = iconHover_;
            break;
        case PaintState::Normal:
            break;
    }
    if (pix.isNull()) return;

    pix = pix.scaled(iconSize_, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    painter->save();
    painter->drawPixmap(iconSpace_, (height() - pix.height()) / 2, pix);
    painter->restore();
}

void NavButton::drawLine(QPainter* painter) {
    if (!showLine_ || !isChecked()) return;

    painter->save();
    QPen pen;
    pen.setWidth(lineWidth_);
    pen.setColor(lineColor_);
    painter->setPen(pen);

    const int w = width();
    const int h = height();
    switch (linePosition_) {
        case LinePosition_Left:
            painter->drawLine(QPoint(0, 0), QPoint(0, h));
            break;
        case LinePosition_Right:
            painter->drawLine(QPoint(w, 0), QPoint(w, h));
            break;
        case LinePosition_Top:
            painter->drawLine(QPoint(0, 0), QPoint(w, 0));
            break;
        case LinePosition_Bottom:
            painter->drawLine(QPoint(0, h), QPoint(w, h));
            break;
    }
    painter->restore();
}

void NavButton::drawTriangle(QPainter* painter) {
    if (!showTriangle_) return;
    const PaintState state = paintState();
    if (state != PaintState::Hover && state != PaintState::Checked) return;

    painter->save();
    painter->setPen(Qt::NoPen);
    painter->setBrush(triangleColor_);

    const int w = width();
    const int h = height();
    const int mid_w = w / 2;
    const int mid_h = h / 2;
    const int len = triangleLen_;
    QPolygon pts;
    switch (trianglePosition_) {
        case TrianglePosition_Left:
            pts << QPoint(0, mid_h - len) << QPoint(len, mid_h) << QPoint(0, mid_h + len);
            break;
        case TrianglePosition_Right:
            pts << QPoint(w, mid_h - len) << QPoint(w - len, mid_h) << QPoint(w, mid_h + len);
            break;
        case TrianglePosition_Top:
            pts << QPoint(mid_w - len, 0) << QPoint(mid_w, len) << QPoint(mid_w + len, 0);
            break;
        case TrianglePosition_Bottom:
            pts << QPoint(mid_w - len, h) << QPoint(mid_w, h - len) << QPoint(mid_w + len, h);
            break;
    }
    painter->drawPolygon(pts);
    painter->restore();
}

// Setters: store, repaint; an unchanged value costs nothing.
#define KP_NAV_SETTER(Name, Type, field)             \
    void NavButton::set##Name(Type value) {          \
        if (assignIfChanged(field, value)) update(); \
    }

KP_NAV_SETTER(PaddingLeft, int, paddingLeft_)
KP_NAV_SETTER(PaddingRight, int, paddingRight_)
KP_NAV_SETTER(PaddingTop, int, paddingTop_)
KP_NAV_SETTER(PaddingBottom, int, paddingBottom_)
KP_NAV_SETTER(TextAlign, const TextAlign&, textAlign_)
KP_NAV_SETTER(ShowTriangle, bool, showTriangle_)
KP_NAV_SETTER(TriangleLen, int, triangleLen_)
KP_NAV_SETTER(TrianglePosition, const TrianglePosition&, trianglePosition_)
KP_NAV_SETTER(TriangleColor, const QColor&, triangleColor_)
KP_NAV_SETTER(ShowIcon, bool, showIcon_)
KP_NAV_SETTER(IconSpace, int, iconSpace_)
KP_NAV_SETTER(IconSize, const QSize&, iconSize_)
KP_NAV_SETTER(IconNormal, const QPixmap&, iconNormal_)
KP_NAV_SETTER(IconHover, const QPixmap&, iconHover_)
KP_NAV_SETTER(IconCheck, const QPixmap&, iconCheck_)
KP_NAV_SETTER(IconDisable, const QPixmap&, iconDisable_)
KP_NAV_SETTER(ShowLine, bool, showLine_)
KP_NAV_SETTER(LineSpace, int, lineSpace_)
KP_NAV_SETTER(LineWidth, int, lineWidth_)
KP_NAV_SETTER(LinePosition, const LinePosition&, linePosition_)
KP_NAV_SETTER(LineColor, const QColor&, lineColor_)
KP_NAV_SETTER(NormalBgColor, const QColor&, normalBgColor_)
KP_NAV_SETTER(HoverBgColor, const QColor&, hoverBgColor_)
KP_NAV_SETTER(CheckBgColor, const QColor&, checkBgColor_)
KP_NAV_SETTER(DisableBgColor, const QColor&, disableBgColor_)
KP_NAV_SETTER(NormalTextColor, const QColor&, normalTextColor_)
KP_NAV_SETTER(HoverTextColor, const QColor&, hoverTextColor_)
KP_NAV_SETTER(CheckTextColor, const QColor&, checkTextColor_)
KP_NAV_SETTER(DisableTextColor, const QColor&, disableTextColor_)
KP_NAV_SETTER(NormalBgBrush, const QBrush&, normalBgBrush_)
KP_NAV_SETTER(HoverBgBrush, const QBrush&, hoverBgBrush_)
KP_NAV_SETTER(CheckBgBrush, const QBrush&, checkBgBrush_)
KP_NAV_SETTER(DisableBgBrush, const QBrush&, disableBgBrush_)

#undef KP_NAV_SETTER

void NavButton::setPadding(int padding) { setPadding(padding, padding, padding, padding); }

void NavButton::setPadding(int paddingLeft, int paddingRight, int paddingTop, int paddingBottom) {
    bool changed = assignIfChanged(paddingLeft_, paddingLeft);
    changed |= assignIfChanged(paddingRight_, paddingRight);
    changed |= assignIfChanged(paddingTop_, paddingTop);
    changed |= assignIfChanged(paddingBottom_, paddingBottom);
    if (changed) update();
}
