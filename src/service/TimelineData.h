#pragma once

#include "xml/XMLDoc.h"

#include <QString>

class TXMLUserType;
class TXMLStatusType;

// Typed view of a friends-timeline reply: root "statuses" holding "status" items.
// Binding objects are nodes of their document and are released with it.
class TXMLStatusesType : public TXMLNodeCollection {
public:
    explicit TXMLStatusesType(const TXMLNodeInit& init);

    // Collection operations (ItemCount, ItemAt, Clear, Delete, Remove come from the
    // base), then the bound ones, in declaration order of the binding.
    int Count();
    QString Get_type();
    TXMLStatusType* Get_status(int index);
    void Set_type(const QString& value);
    TXMLStatusType* Add();
    TXMLStatusType* Insert(int index);
};

class TXMLStatusType : public TXMLNode {
public:
    explicit TXMLStatusType(const TXMLNodeInit& init);

    QString Get_created_at();
    QString Get_id();
    QString Get_text();
    QString Get_source();
    QString Get_truncated();
    QString Get_in_reply_to_status_id();
    QString Get_in_reply_to_user_id();
    QString Get_favorited();
    QString Get_in_reply_to_screen_name();
    QString Get_external_url();         // Friendica's web page of the status; empty elsewhere
    TXMLUserType* Get_user();
    void Set_created_at(const QString& value);
    void Set_id(const QString& value);
    void Set_text(const QString& value);
    void Set_source(const QString& value);
    void Set_truncated(const QString& value);
    void Set_in_reply_to_status_id(const QString& value);
    void Set_in_reply_to_user_id(const QString& value);
    void Set_favorited(const QString& value);
    void Set_in_reply_to_screen_name(const QString& value);
};

class TXMLUserType : public TXMLNode {
public:
    explicit TXMLUserType(const TXMLNodeInit& init);

    QString Get_id();
    QString Get_name();
    QString Get_screen_name();
    QString Get_location();
    QString Get_description();
    QString Get_profile_image_url();
    QString Get_url();
    QString Get_protected();
    // Raises EConvertError when the text is not a decimal 32-bit integer.
    qint32 Get_followers_count();
    void Set_id(const QString& value);
    void Set_name(const QString& value);
    void Set_screen_name(const QString& value);
    void Set_location(const QString& value);
    void Set_description(const QString& value);
    void Set_profile_image_url(const QString& value);
    void Set_url(const QString& value);
    void Set_protected(const QString& value);
    void Set_followers_count(qint32 value);
};

// Binds the document's root to TXMLStatusesType (adding an empty root when there is
// none). A root with another name raises EIntfCastError.
TXMLStatusesType* TimelineStatuses(TXMLDocument& document);
