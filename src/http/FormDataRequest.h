#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>
#include <memory>
#include <mutex>
#include <optional>
#include <variant>

#include "http/HTTPRequest.h"

namespace http {

class FormBodyParts;
class FormBodyReader;

// How a form request writes its body.
enum PostFormat : qint32 {
    PostFormatMultipart = 0,   // multipart/form-data
    PostFormatUrlEncoded = 1,  // application/x-www-form-urlencoded (values only)
};

// A named text field. A value entry made from no object has no value: it is written as
// empty text.
struct FormValue {
    QString key;
    std::optional<QString> value;
};

// A named file part: its bytes, or the path of a file whose contents are sent.
struct FormFile {
    QString key;
    QString fileName;
    QString contentType;
    std::variant<QByteArray, QString> data;
};

using FormValueList = QList<FormValue>;
using FormFileList = QList<FormFile>;

// A request that sends an HTML form: named text values, and named files or byte blocks.
// Only values and the url-encoded format give an application/x-www-form-urlencoded body;
// anything else is multipart/form-data. Files are read from disk while the body is sent.
class FormDataRequest : public HTTPRequest {
public:
    explicit FormDataRequest(const QUrl& url);
    ~FormDataRequest() override;

    static std::shared_ptr<FormDataRequest> requestWithURL(const QUrl& url);

    // ---- Text values ----
    // Appends a value entry holding value's text; an invalid QVariant gives an entry without
    // a value. A null key adds nothing.
    void addPostValue(const QVariant& value, const QString& key);
    // Removes every value entry of key, then adds.
    void setPostValue(const QVariant& value, const QString& key);

    // ---- Files and byte blocks ----
    // A file sent from path; a null file name stands for the path's last component, a null
    // content type for the type of the file's extension. A path that is not a file fails
    // the request (code 6); the entry is added all the same.
    void addFile(const QString& path, const QString& key);
    void addFile(const QString& path, const QString& fileName, const QString& contentType,
                 const QString& key);
    void setFile(const QString& path, const QString& key);
    void setFile(const QString& path, const QString& fileName, const QString& contentType,
                 const QString& key);
    // Bytes sent as a file part; file name "file" unless given, a null content type is
    // "application/octet-stream".
    void addData(const QByteArray& data, const QString& key);
    void addData(const QByteArray& data, const QString& fileName, const QString& contentType,
                 const QString& key);
    void setData(const QByteArray& data, const QString& key);
    void setData(const QByteArray& data, const QString& fileName, const QString& contentType,
                 const QString& key);

    // ---- Fields ----
    std::optional<FormValueList> postData() const;
    void setPostData(std::optional<FormValueList> list);
    std::optional<FormFileList> fileData() const;
    void setFileData(std::optional<FormFileList> list);
    qint32 postFormat() const;
    void setPostFormat(qint32 format);
    StringEncoding stringEncoding() const;
    void setStringEncoding(StringEncoding encoding);

    // ---- Body ----
    void buildPostBody() override;
    void buildURLEncodedPostBody();
    void buildMultipartFormDataPostBody();
    // Appends text in stringEncoding; text that cannot be encoded adds nothing.
    void appendPostString(const QString& text);
    // Percent-escapes text for a url-encoded body: only ASCII letters, digits, '-', '.' and
    // '_' stay as they are. Text that cannot be encoded gives the empty string.
    QString encodeURL(const QString& text) const;

    HTTPRequestPtr copyWithZone() const override;

protected:
    HTTPRequestPtr makeRequestOfSameClass(const QUrl& url) const override;
    std::optional<platform::HttpRequestBody> streamedPostBody() override;
    ErrorPtr streamedPostBodyError() const override;

private:
    void addFileEntry(FormFile entry);
    void removeFileEntries(const QString& key);
    void appendPostFile(const QString& path);

    mutable std::mutex formMutex_;
    std::optional<FormValueList> postData_;
    std::optional<FormFileList> fileData_;
    std::atomic<qint32> postFormat_{PostFormatUrlEncoded};
    std::atomic<StringEncoding> stringEncoding_{StringEncodings::UTF8};

    // The body while it is built, then the body that is sent.
    std::shared_ptr<FormBodyParts> bodyParts_;
    std::shared_ptr<FormBodyReader> bodyReader_;
};

}  // namespace http
