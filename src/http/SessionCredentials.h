#pragma once

#include <QString>
#include <QUrl>

#include "platform/http/HttpAuthentication.h"

namespace http {

// One remembered login of the session store. A server entry has url (and realm when one was
// named); a proxy entry has host and port. Entries are told apart by the identity of their
// credentials object, not by its content.
struct SessionCredentials {
    // The handle the credentials were applied with; none for a Basic login remembered after
    // it was sent before any challenge and accepted.
    platform::HttpAuthenticationPtr authentication;
    platform::HttpCredentialsPtr credentials;
    QUrl url;
    QString authenticationScheme;
    // Null when unknown.
    QString authenticationRealm;
    QString host;
    int port = 0;
};

}  // namespace http
