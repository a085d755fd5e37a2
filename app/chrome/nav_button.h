// A push button that paints itself: background, text, icon, a marker line and a small triangle,
// each chosen by the button's state (disabled, else checked, else hover, else normal). Used for
// the navigation, page and tool buttons of the main window.
#pragma once

#include <QBrush>
#include <QColor>
#include <QPixmap>
#include <QPushButton>
#include <QSize>

class NavButton : public QPushButton {
    Q_OBJECT
    Q_ENUMS(TextAlign)
    Q_ENUMS(TrianglePosition)
    Q_ENUMS(IconPosition)
    Q_ENUMS(LinePosition)

    Q_PROPERTY(int paddingLeft READ getPaddingLeft WRITE setPaddingLeft)
    Q_PROPERTY(int paddingRight READ getPaddingRight WRITE setPaddingRight)
    Q_PROPERTY(int paddingTop READ getPaddingTop WRITE setPaddingTop)
    Q_PROPERTY(int paddingBottom READ getPaddingBottom WRITE setPaddingBottom)
    Q_PROPERTY(TextAlign textAlign READ getTextAlign WRITE setTextAlign)

    Q_PROPERTY(bool showTriangle READ getShowTriangle WRITE setShowTriangle)
    Q_PROPERTY(int triangleLen READ getTriangleLen WRITE setTriangleLen)
    Q_PROPERTY(TrianglePosition trianglePosition READ getTrianglePosition WRITE setTrianglePosition)
    Q_PROPERTY(QColor triangleColor READ getTriangleColor WRITE setTriangleColor)

    Q_PROPERTY(bool showIcon READ getShowIcon WRITE setShowIcon)
    Q_PROPERTY(int iconSpace READ getIconSpace WRITE setIconSpace)
    Q_PROPERTY(QSize iconSize READ getIconSize WRITE setIconSize)
    Q_PROPERTY(QPixmap iconNormal READ getIconNormal WRITE setIconNormal)
    Q_PROPERTY(QPixmap iconHover READ getIconHover WRITE setIconHover)
    Q_PROPERTY(QPixmap iconCheck READ getIconCheck WRITE setIconCheck)
    Q_PROPERTY(QPixmap iconDisable READ getIconDisable WRITE setIconDisable)

    Q_PROPERTY(bool showLine READ getShowLine WRITE setShowLine)
    Q_PROPERTY(int lineSpace READ getLineSpace WRITE setLineSpace)
    Q_PROPERTY(int lineWidth READ getLineWidth WRITE setLineWidth)
    Q_PROPERTY(LinePosition linePosition READ getLinePosition WRITE setLinePosition)
    Q_PROPERTY(QColor lineColor READ getLineColor WRITE setLineColor)

    Q_PROPERTY(QColor normalBgColor READ getNormalBgColor WRITE setNormalBgColor)
    Q_PROPERTY(QColor hoverBgColor READ getHoverBgColor WRITE setHoverBgColor)
    Q_PROPERTY(QColor checkBgColor READ getCheckBgColor WRITE setCheckBgColor)
    Q_PROPERTY(QColor disableBgColor READ getDisableBgColor WRITE setDisableBgColor)

    Q_PROPERTY(QColor normalTextColor READ getNormalTextColor WRITE setNormalTextColor)
    Q_PROPERTY(QColor hoverTextColor READ getHoverTextColor WRITE setHoverTextColor)
    Q_PROPERTY(QColor checkTextColor READ getCheckTextColor WRITE setCheckTextColor)
    Q_PROPERTY(QColor disableTextColor READ getDisableTextColor WRITE setDisableTextColor)

public:
    enum TextAlign {
        TextAlign_Left = 0x0001,
        TextAlign_Right = 0x0002,
        TextAlign_Top = 0x0020,
        TextAlign_Bottom = 0x0040,
        TextAlign_Center = 0x0004,
    };

    enum TrianglePosition {
        TrianglePosition_Left = 0,
        TrianglePosition_Right = 1,
        TrianglePosition_Top = 2,
        TrianglePosition_Bottom = 3,
    };

    enum IconPosition {
        IconPosition_Left = 0,
        IconPosition_Right = 1,
        IconPosition_Top = 2,
        IconPosition_Bottom = 3,
    };

    enum LinePosition {
        LinePosition_Left = 0,
        LinePosition_Right = 1,
        LinePosition_Top = 2,
        LinePosition_Bottom = 3,
    };

    // The state every paint choice is made from.
    enum class PaintState { Normal, Hover, Checked, Disabled };

    explicit NavButton(QWidget* parent = nullptr);

    int getPaddingLeft() const { return paddingLeft_; }
    int getPaddingRight() const { return paddingRight_; }
    int getPaddingTop() const { return paddingTop_; }
    int getPaddingBottom() const { return paddingBottom_; }
    TextAlign getTextAlign() const { return textAlign_; }

    bool getShowTriangle() const { return showTriangle_; }
    int getTriangleLen() const { return triangleLen_; }
    TrianglePosition getTrianglePosition() const { return trianglePosition_; }
    QColor getTriangleColor() const { return triangleColor_; }

    bool getShowIcon() const { return showIcon_; }
    int getIconSpace() const { return iconSpace_; }
    QSize getIconSize() const { return iconSize_; }
    QPixmap getIconNormal() const { return iconNormal_; }
    QPixmap getIconHover() const { return iconHover_; }
    QPixmap getIconCheck() const { return iconCheck_; }
    QPixmap getIconDisable() const { return iconDisable_; }

    bool getShowLine() const { return showLine_; }
    int getLineSpace() const { return lineSpace_; }
    int getLineWidth() const { return lineWidth_; }
    LinePosition getLinePosition() const { return linePosition_; }
    QColor getLineColor() const { return lineColor_; }

    QColor getNormalBgColor() const { return normalBgColor_; }
    QColor getHoverBgColor() const { return hoverBgColor_; }
    QColor getCheckBgColor() const { return checkBgColor_; }
    QColor getDisableBgColor() const { return disableBgColor_; }

    QColor getNormalTextColor() const { return normalTextColor_; }
    QColor getHoverTextColor() const { return hoverTextColor_; }
    QColor getCheckTextColor() const { return checkTextColor_; }
    QColor getDisableTextColor() const { return disableTextColor_; }

    bool isHover() const { return hover_; }
    PaintState paintState() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

public Q_SLOTS:
    void setPaddingLeft(int paddingLeft);
    void setPaddingRight(int paddingRight);
    void setPaddingTop(int paddingTop);
    void setPaddingBottom(int paddingBottom);
    void setPadding(int padding);
    void setPadding(int paddingLeft, int paddingRight, int paddingTop, int paddingBottom);
    void setTextAlign(const TextAlign& textAlign);

    void setShowTriangle(bool showTriangle);
    void setTriangleLen(int triangleLen);
    void setTrianglePosition(const TrianglePosition& trianglePosition);
    void setTriangleColor(const QColor& triangleColor);

    void setShowIcon(bool showIcon);
    void setIconSpace(int iconSpace);
    void setIconSize(const QSize& iconSize);
    void setIconNormal(const QPixmap& iconNormal);
    void setIconHover(const QPixmap& iconHover);
    void setIconCheck(const QPixmap& iconCheck);
    void setIconDisable(const QPixmap& iconDisable);

    void setShowLine(bool showLine);
    void setLineSpace(int lineSpace);
    void setLineWidth(int lineWidth);
    void setLinePosition(const LinePosition& linePosition);
    void setLineColor(const QColor& lineColor);

    void setNormalBgColor(const QColor& normalBgColor);
    void setHoverBgColor(const QColor& hoverBgColor);
    void setCheckBgColor(const QColor& checkBgColor);
    void setDisableBgColor(const QColor& disableBgColor);

    void setNormalTextColor(const QColor& normalTextColor);
    void setHoverTextColor(const QColor& hoverTextColor);
    void setCheckTextColor(const QColor& checkTextColor);
    void setDisableTextColor(const QColor& disableTextColor);

    void setNormalBgBrush(const QBrush& normalBgBrush);
    void setHoverBgBrush(const QBrush& hoverBgBrush);
    void setCheckBgBrush(const QBrush& checkBgBrush);
    void setDisableBgBrush(const QBrush& disableBgBrush);

protected:
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void drawBg(QPainter* painter);
    void drawText(QPainter* painter);
    void drawIcon(QPainter* painter);
    void drawLine(QPainter* painter);
    void drawTriangle(QPainter* painter);

    int paddingLeft_ = 20;
    int paddingRight_ = 5;
    int paddingTop_ = 5;
    int paddingBottom_ = 5;
    TextAlign textAlign_ = TextAlign_Left;

    bool showTriangle_ = false;
    int triangleLen_ = 5;
    TrianglePosition trianglePosition_ = TrianglePosition_Right;
    QColor triangleColor_{255, 255, 255};

    bool showIcon_ = false;
    int iconSpace_ = 10;
    QSize iconSize_{16, 16};
    QPixmap iconNormal_;
    QPixmap iconHover_;
    QPixmap iconCheck_;
    QPixmap iconDisable_;

    bool showLine_ = true;
    int lineSpace_ = 0;
    int lineWidth_ = 5;
    LinePosition linePosition_ = LinePosition_Left;
    QColor lineColor_{0, 187, 158};

    QColor normalBgColor_{230, 230, 230};
    QColor hoverBgColor_{130, 130, 130};
    QColor checkBgColor_{80, 80, 80};
    QColor disableBgColor_;

    QColor normalTextColor_{100, 100, 100};
    QColor hoverTextColor_{255, 255, 255};
    QColor checkTextColor_{255, 255, 255};
    QColor disableTextColor_;

    QBrush normalBgBrush_{Qt::NoBrush};
    QBrush hoverBgBrush_{Qt::NoBrush};
    QBrush checkBgBrush_{Qt::NoBrush};
    QBrush disableBgBrush_{Qt::NoBrush};

    bool hover_ = false;
};
