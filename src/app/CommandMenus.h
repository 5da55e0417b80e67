#pragma once

#include <QCoreApplication>
#include <QObject>

#include <array>
#include <functional>

class QAction;
class QMainWindow;
class QMenu;
struct TMainState;

namespace commands {

// The menu items. Where the menu bar and the pop-up show one command under one caption,
// the pop-up holds the menu bar's action.
enum TItem {
    mmLogin, mmLoginSet, mmView, mmAnonymous, mmAutoReload, mmAutoRotation, mmNotify, mmNotifyMentions,
    mmTopMost, mmSimpleMode, mmSuperSimpleMode, mmWidget, mmSetting, mmReload, mmMore, mmTwitt,
    mmReply, mmRepeat, mmBrowser, mmVersion,
    pmLogin, pmSimpleMode, pmTwitt, pmReply, pmMore, pmAutoReload, pmSetting, pmReload, pmVersion, pmClose,
    kItemCount
};

} // namespace commands

// The window's menu bar and pop-up menu: their items in order, with their captions,
// shortcuts and ticks, under the names tests and accessibility tools know them by. What
// an item does is the window's business.
class TCommandMenus : public QObject {
    // The captions are the main window's texts.
    Q_DECLARE_TR_FUNCTIONS(TForm1)
public:
    // Builds both menus; the ticks of the kept choices come from state. opening: the
    // view submenu or the pop-up is about to open.
    TCommandMenus(QMainWindow* window, const TMainState& state, const std::function<void()>& opening);

    QAction* Item(commands::TItem item) const { return m_items[item]; }
    QMenu* Popup() const { return m_popup; }
    // The ticks of the choices, as the user made them, and whether notifications can be had.
    void ShowTicks(const TMainState& state, bool notifyAvailable);
    // The items the command lock switches.
    void SetEnabled(bool enable);

private:
    QAction* AddItem(QMenu* menu, commands::TItem item, const QString& caption, bool checkable = false);
    void BuildMenuBar(QMainWindow* window, const TMainState& state, const std::function<void()>& opening);
    void BuildPopup(QMainWindow* window, const std::function<void()>& opening);

    std::array<QAction*, commands::kItemCount> m_items{};
    QMenu* m_popup = nullptr;
};
