#pragma once

#include <QProxyStyle>

// The application's style, unchanged but for one thing: the menu bar asks its style for
// the extension button's icon while it is being built, which loads the image plugins and
// reads the icon files before the first frame, yet that button shows only when the menus
// do not fit. Those icons are handed out as stand-ins that load the real ones when first
// drawn or measured.
class TLazyIconStyle : public QProxyStyle {
public:
    TLazyIconStyle() = default;   // over the style the platform or "-style" names

    QIcon standardIcon(StandardPixmap icon, const QStyleOption* option = nullptr,
                       const QWidget* widget = nullptr) const override;
};
