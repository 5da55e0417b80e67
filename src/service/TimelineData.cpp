#include "service/TimelineData.h"

#include <QCoreApplication>

namespace {

QString ChildText(TXMLNode* node, const QString& name)
{
    return node->ChildList()->NodeByName(name)->ElementText();
}

void SetChildText(TXMLNode* node, const QString& name, const QString& value)
{
    node->ChildList()->NodeByName(name)->SetNodeValue(value);
}

} // namespace

TXMLStatusesType* TimelineStatuses(TXMLDocument& document)
{
    return NodeAs<TXMLStatusesType>(
        document.BindRoot(QStringLiteral("statuses"), &NodeClassOf<TXMLStatusesType>));
}

// --- statuses

TXMLStatusesType::TXMLStatusesType(const TXMLNodeInit& init)
    : TXMLNodeCollection(init)
{
    RegisterChildClass(QStringLiteral("status"), &NodeClassOf<TXMLStatusType>);
    SetItemName(QStringLiteral("status"));
    SetItemKind(&NodeKindOf<TXMLStatusType>);
}

int TXMLStatusesType::Count()
{
    return ItemCount();
}

QString TXMLStatusesType::Get_type()
{
    return AttributeList()->NodeByName(QStringLiteral("type"))->NodeValue();
}

TXMLStatusType* TXMLStatusesType::Get_status(int index)
{
    return NodeAs<TXMLStatusType>(ItemAt(index));
}

void TXMLStatusesType::Set_type(const QString& value)
{
    SetAttribute(QStringLiteral("type"), value);
}

TXMLStatusType* TXMLStatusesType::Add()
{
    return NodeAs<TXMLStatusType>(AddItem(-1));
}

TXMLStatusType* TXMLStatusesType::Insert(int index)
{
    return NodeAs<TXMLStatusType>(AddItem(index));
}

// --- status

TXMLStatusType::TXMLStatusType(const TXMLNodeInit& init)
    : TXMLNode(init)
{
    RegisterChildClass(QStringLiteral("user"), &NodeClassOf<TXMLUserType>);
}

QString TXMLStatusType::Get_created_at() { return ChildText(this, QStringLiteral("created_at")); }
QString TXMLStatusType::Get_id() { return ChildText(this, QStringLiteral("id")); }
QString TXMLStatusType::Get_text() { return ChildText(this, QStringLiteral("text")); }
QString TXMLStatusType::Get_source() { return ChildText(this, QStringLiteral("source")); }
QString TXMLStatusType::Get_truncated() { return ChildText(this, QStringLiteral("truncated")); }
QString TXMLStatusType::Get_in_reply_to_status_id() { return ChildText(this, QStringLiteral("in_reply_to_status_id")); }
QString TXMLStatusType::Get_in_reply_to_user_id() { return ChildText(this, QStringLiteral("in_reply_to_user_id")); }
QString TXMLStatusType::Get_favorited() { return ChildText(this, QStringLiteral("favorited")); }
QString TXMLStatusType::Get_in_reply_to_screen_name() { return ChildText(this, QStringLiteral("in_reply_to_screen_name")); }
QString TXMLStatusType::Get_external_url() { return ChildText(this, QStringLiteral("external_url")); }

TXMLUserType* TXMLStatusType::Get_user()
{
    return NodeAs<TXMLUserType>(ChildList()->NodeByName(QStringLiteral("user")));
}

void TXMLStatusType::Set_created_at(const QString& value) { SetChildText(this, QStringLiteral("created_at"), value); }
void TXMLStatusType::Set_id(const QString& value) { SetChildText(this, QStringLiteral("id"), value); }
void TXMLStatusType::Set_text(const QString& value) { SetChildText(this, QStringLiteral("text"), value); }
void TXMLStatusType::Set_source(const QString& value) { SetChildText(this, QStringLiteral("source"), value); }
void TXMLStatusType::Set_truncated(const QString& value) { SetChildText(this, QStringLiteral("truncated"), value); }
void TXMLStatusType::Set_in_reply_to_status_id(const QString& value) { SetChildText(this, QStringLiteral("in_reply_to_status_id"), value); }
void TXMLStatusType::Set_in_reply_to_user_id(const QString& value) { SetChildText(this, QStringLiteral("in_reply_to_user_id"), value); }
void TXMLStatusType::Set_favorited(const QString& value) { SetChildText(this, QStringLiteral("favorited"), value); }
void TXMLStatusType::Set_in_reply_to_screen_name(const QString& value) { SetChildText(this, QStringLiteral("in_reply_to_screen_name"), value); }

// --- user

TXMLUserType::TXMLUserType(const TXMLNodeInit& init)
    : TXMLNode(init)
{
}

QString TXMLUserType::Get_id() { return ChildText(this, QStringLiteral("id")); }
QString TXMLUserType::Get_name() { return ChildText(this, QStringLiteral("name")); }
QString TXMLUserType::Get_screen_name() { return ChildText(this, QStringLiteral("screen_name")); }
QString TXMLUserType::Get_location() { return ChildText(this, QStringLiteral("location")); }
QString TXMLUserType::Get_description() { return ChildText(this, QStringLiteral("description")); }
QString TXMLUserType::Get_profile_image_url() { return ChildText(this, QStringLiteral("profile_image_url")); }
QString TXMLUserType::Get_url() { return ChildText(this, QStringLiteral("url")); }
QString TXMLUserType::Get_protected() { return ChildText(this, QStringLiteral("protected")); }

qint32 TXMLUserType::Get_followers_count()
{
    const QString text = ChildList()->NodeByName(QStringLiteral("followers_count"))->NodeValue();
    bool ok = false;
    const qint32 value = text.trimmed().toInt(&ok, 10);
    if (!ok)
        throw EConvertError(QCoreApplication::translate("TimelineData", "'%1' は有効な整数値ではありません").arg(text));
    return value;
}

void TXMLUserType::Set_id(const QString& value) { SetChildText(this, QStringLiteral("id"), value); }
void TXMLUserType::Set_name(const QString& value) { SetChildText(this, QStringLiteral("name"), value); }
void TXMLUserType::Set_screen_name(const QString& value) { SetChildText(this, QStringLiteral("screen_name"), value); }
void TXMLUserType::Set_location(const QString& value) { SetChildText(this, QStringLiteral("location"), value); }
void TXMLUserType::Set_description(const QString& value) { SetChildText(this, QStringLiteral("description"), value); }
void TXMLUserType::Set_profile_image_url(const QString& value) { SetChildText(this, QStringLiteral("profile_image_url"), value); }
void TXMLUserType::Set_url(const QString& value) { SetChildText(this, QStringLiteral("url"), value); }
void TXMLUserType::Set_protected(const QString& value) { SetChildText(this, QStringLiteral("protected"), value); }
void TXMLUserType::Set_followers_count(qint32 value) { SetChildText(this, QStringLiteral("followers_count"), QString::number(value)); }
