// The service layer must stay usable without a window system.
#ifdef QT_WIDGETS_LIB
#error "brimlark_service must not link Qt Widgets"
#endif
