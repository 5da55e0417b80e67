#pragma once

#include "LocalService.h"

#include <httplib.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <memory>
#include <string>
#include <vector>

// Talks to a running local service over loopback with Basic authentication, and reads
// its replies with the real XML parser.
struct ServiceClient {
    ServiceClient(const LocalService& service, std::string user = LocalService::kDemoUser,
                  std::string password = LocalService::kDemoPassword)
        : http(originOf(service.baseUrl())), prefix(pathOf(service.baseUrl()))
    {
        http.set_connection_timeout(5);
        http.set_read_timeout(10);
        if (!user.empty() || !password.empty())
            http.set_basic_auth(user, password);
    }

    httplib::Result timeline(const std::string& query = {})
    {
        return http.Get(prefix + "/statuses/friends_timeline.xml" + query);
    }
    httplib::Result update(const std::string& body)
    {
        return http.Post(prefix + "/statuses/update.xml", body, "application/x-www-form-urlencoded");
    }
    httplib::Result favourite(const std::string& id)
    {
        return http.Post(prefix + "/favorites/create/" + id + ".xml", "id=" + id, "text/html");
    }
    httplib::Result retweet(const std::string& id)
    {
        return http.Post(prefix + "/statuses/retweet/" + id + ".xml", "", "application/x-www-form-urlencoded");
    }
    httplib::Result mentions(const std::string& query = {})
    {
        return http.Get(prefix + "/statuses/mentions.xml" + query);
    }
    httplib::Result verifyCredentials()
    {
        return http.Get(prefix + "/account/verify_credentials.xml");
    }

    // "http://127.0.0.1:PORT" or "https://..." and the path part of the base address; a
    // client for https trusts only the authority given with set_ca_cert_path.
    static std::string originOf(const QByteArray& baseUrl)
    {
        return baseUrl.left(pathStart(baseUrl)).toStdString();
    }
    static std::string pathOf(const QByteArray& baseUrl)
    {
        return baseUrl.mid(pathStart(baseUrl)).toStdString();
    }
    static qsizetype pathStart(const QByteArray& baseUrl)
    {
        const qsizetype slash = baseUrl.indexOf('/', baseUrl.indexOf("://") + 3);
        return slash < 0 ? baseUrl.size() : slash;
    }

    httplib::Client http;
    std::string prefix;
};

struct XmlFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using XmlDoc = std::unique_ptr<xmlDoc, XmlFree>;

inline XmlDoc parseXml(const std::string& body)
{
    return XmlDoc(xmlReadMemory(body.data(), static_cast<int>(body.size()), "reply.xml", "UTF-8",
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
}

inline std::vector<xmlNode*> childElements(xmlNode* parent)
{
    std::vector<xmlNode*> out;
    for (xmlNode* n = parent ? parent->children : nullptr; n; n = n->next) {
        if (n->type == XML_ELEMENT_NODE)
            out.push_back(n);
    }
    return out;
}

inline std::string nodeName(xmlNode* node)
{
    return reinterpret_cast<const char*>(node->name);
}

inline std::string nodeText(xmlNode* node)
{
    xmlChar* content = xmlNodeGetContent(node);
    std::string text = content ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return text;
}

// The text of the named child element of parent; "<missing>" when there is none.
inline std::string childText(xmlNode* parent, const std::string& name)
{
    for (xmlNode* child : childElements(parent)) {
        if (nodeName(child) == name)
            return nodeText(child);
    }
    return "<missing>";
}

inline xmlNode* childElement(xmlNode* parent, const std::string& name)
{
    for (xmlNode* child : childElements(parent)) {
        if (nodeName(child) == name)
            return child;
    }
    return nullptr;
}

// One status of a reply, as the program reads it.
struct ReadStatus {
    std::string id;
    std::string text;
    std::string favorited;
    std::string name;
    std::string screenName;
    std::string truncated;
    std::string inReplyToStatusId;
    std::string inReplyToUserId;
    std::string inReplyToScreenName;
    std::string retweetedId;  // "<missing>" unless it is a repeat
};

inline ReadStatus readStatus(xmlNode* status)
{
    xmlNode* user = childElement(status, "user");
    xmlNode* retweeted = childElement(status, "retweeted_status");
    return {childText(status, "id"), childText(status, "text"), childText(status, "favorited"),
            childText(user, "name"), childText(user, "screen_name"), childText(status, "truncated"),
            childText(status, "in_reply_to_status_id"), childText(status, "in_reply_to_user_id"),
            childText(status, "in_reply_to_screen_name"),
            retweeted ? childText(retweeted, "id") : std::string("<missing>")};
}

// The statuses of a timeline reply; fails the calling test on a malformed document.
inline std::vector<ReadStatus> readTimeline(const std::string& body, bool* ok)
{
    std::vector<ReadStatus> out;
    XmlDoc doc = parseXml(body);
    xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    *ok = root && nodeName(root) == "statuses";
    if (!*ok)
        return out;
    for (xmlNode* status : childElements(root))
        out.push_back(readStatus(status));
    return out;
}
