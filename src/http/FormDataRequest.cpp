#include "http/FormDataRequest.h"

#include <QFileInfo>
#include <QUuid>
#include <algorithm>

#include "http/FormBodyParts.h"

namespace http {

namespace {

const QString kDefaultContentType = QStringLiteral("application/octet-stream");

// A carriage return, line feed or double quote in a name or content type would end the
// quoted parameter or the header line early and let the text forge the body's framing.
bool breaksFraming(const QString& text) {
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) ||
           text.contains(QLatin1Char('"'));
}

ErrorPtr framingError(const FormValueList& values, const FormFileList& files) {
    const bool bad = std::any_of(values.begin(), values.end(),
                                 [](const FormValue& entry) { return breaksFraming(entry.key); }) ||
                     std::any_of(files.begin(), files.end(), [](const FormFile& entry) {
                         return breaksFraming(entry.key) || breaksFraming(entry.fileName) ||
                                breaksFraming(entry.contentType);
                     });
    if (!bad) return nullptr;
    return Error::http(UnableToCreateRequestErrorType,
                       QStringLiteral("Unable to create request (a form field name, file name or "
                                      "content type holds a line break or a double quote)"));
}

bool isUnreserved(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

}  // namespace

FormDataRequest::FormDataRequest(const QUrl& url) : HTTPRequest(url) {
    setRequestMethod(QStringLiteral("POST"));
}

FormDataRequest::~FormDataRequest() = default;

std::shared_ptr<FormDataRequest> FormDataRequest::requestWithURL(const QUrl& url) {
    return std::make_shared<FormDataRequest>(url);
}

HTTPRequestPtr FormDataRequest::makeRequestOfSameClass(const QUrl& url) const {
    return std::make_shared<FormDataRequest>(url);
}

// ---- Entries ----

void FormDataRequest::addPostValue(const QVariant& value, const QString& key) {
    if (key.isNull()) return;
    std::lock_guard lock(formMutex_);
    if (!postData_) postData_.emplace();
    postData_->append(
        FormValue{key, value.isValid() ? std::optional(value.toString()) : std::nullopt});
}

void FormDataRequest::setPostValue(const QVariant& value, const QString& key) {
    {
        std::lock_guard lock(formMutex_);
        if (postData_) {
            postData_->removeIf([&key](const FormValue& entry) { return entry.key == key; });
        }
    }
    addPostValue(value, key);
}

void FormDataRequest::addFile(const QString& path, const QString& key) {
    addFile(path, QString(), QString(), key);
}

void FormDataRequest::addFile(const QString& path, const QString& fileName,
                              const QString& contentType, const QString& key) {
    const QFileInfo info(path);
    if (!info.exists() || info.isDir()) {
        failWithError(Error::http(InternalErrorWhileBuildingRequestType,
                                  QStringLiteral("No file exists at %1").arg(path)));
    }
    QString type = contentType;
    if (type.isNull()) type = mimeTypeForFileAtPath(path);
    addFileEntry(FormFile{key, fileName.isNull() ? info.fileName() : fileName,
                          type.isEmpty() ? kDefaultContentType : type, path});
}

void FormDataRequest::setFile(const QString& path, const QString& key) {
    removeFileEntries(key);
    addFile(path, key);
}

void FormDataRequest::setFile(const QString& path, const QString& fileName,
                              const QString& contentType, const QString& key) {
    removeFileEntries(key);
    addFile(path, fileName, contentType, key);
}

void FormDataRequest::addData(const QByteArray& data, const QString& key) {
    addData(data, QStringLiteral("file"), QString(), key);
}

void FormDataRequest::addData(const QByteArray& data, const QString& fileName,
                              const QString& contentType, const QString& key) {
    addFileEntry(
        FormFile{key, fileName, contentType.isNull() ? kDefaultContentType : contentType, data});
}

void FormDataRequest::setData(const QByteArray& data, const QString& key) {
    removeFileEntries(key);
    addData(data, key);
}

void FormDataRequest::setData(const QByteArray& data, const QString& fileName,
                              const QString& contentType, const QString& key) {
    removeFileEntries(key);
    addData(data, fileName, contentType, key);
}

void FormDataRequest::addFileEntry(FormFile entry) {
    std::lock_guard lock(formMutex_);
    if (!fileData_) fileData_.emplace();
    fileData_->append(std::move(entry));
}

void FormDataRequest::removeFileEntries(const QString& key) {
    std::lock_guard lock(formMutex_);
    if (fileData_) {
        fileData_->removeIf([&key](const FormFile& entry) { return entry.key == key; });
    }
}

// ---- Fields ----

std::optional<FormValueList> FormDataRequest::postData() const {
    std::lock_guard lock(formMutex_);
    return postData_;
}

void FormDataRequest::setPostData(std::optional<FormValueList> list) {
    std::lock_guard lock(formMutex_);
    postData_ = std::move(list);
}

std::optional<FormFileList> FormDataRequest::fileData() const {
    std::lock_guard lock(formMutex_);
    return fileData_;
}

void FormDataRequest::setFileData(std::optional<FormFileList> list) {
    std::lock_guard lock(formMutex_);
    fileData_ = std::move(list);
}

qint32 FormDataRequest::postFormat() const { return postFormat_; }

void FormDataRequest::setPostFormat(qint32 format) { postFormat_ = format; }

StringEncoding FormDataRequest::stringEncoding() const { return stringEncoding_; }

void FormDataRequest::setStringEncoding(StringEncoding encoding) { stringEncoding_ = encoding; }

// ---- Body ----

void FormDataRequest::buildPostBody() {
    std::lock_guard lock(cancelledLock_);
    if (haveBuiltPostBody_) return;
    const auto values = postData();
    const auto files = fileData();
    if (!values && !files) {
        HTTPRequest::buildPostBody();
        return;
    }
    if (files && !files->isEmpty()) setShouldStreamPostDataFromDisk(true);

    bodyParts_ = std::make_shared<FormBodyParts>();
    if (postFormat() == PostFormatUrlEncoded) {
        buildURLEncodedPostBody();
    } else {
        buildMultipartFormDataPostBody();
    }
    if (error_) {
        bodyParts_.reset();
        return;
    }
    // Files are read while the body is sent. A body to be compressed is written out first,
    // as the compressor works on a whole file.
    if (bodyParts_->hasFiles() && !shouldCompressRequestBody_) {
        finishPostBody(bodyParts_->length());
        return;
    }
    const auto parts = std::exchange(bodyParts_, nullptr);
    parts->writeTo([this](const QByteArray& bytes) { appendPostData(bytes); },
                   [this](const QString& path) { appendPostDataFromFile(path); });
    HTTPRequest::buildPostBody();
}

void FormDataRequest::buildURLEncodedPostBody() {
    const FormValueList values = postData().value_or(FormValueList());
    const auto files = fileData();
    if (files && !files->isEmpty()) {
        setPostFormat(PostFormatMultipart);
        buildMultipartFormDataPostBody();
        return;
    }
    addRequestHeader(QStringLiteral("Content-Type"),
                     QStringLiteral("application/x-www-form-urlencoded; charset=") +
                         ianaCharSetNameForEncoding(stringEncoding()));
    const qsizetype count = values.size();
    for (qsizetype i = 0; i < count; ++i) {
        // An entry without a value is sent with an empty one, as a multipart body does.
        appendPostString(encodeURL(values[i].key) + QLatin1Char('=') +
                         encodeURL(values[i].value.value_or(QString())) +
                         (i < count - 1 ? QStringLiteral("&") : QString()));
    }
}

void FormDataRequest::buildMultipartFormDataPostBody() {
    const FormValueList values = postData().value_or(FormValueList());
    const FormFileList files = fileData().value_or(FormFileList());
    if (ErrorPtr error = framingError(values, files)) {
        failWithError(error);
        return;
    }
    const QString boundary = QStringLiteral("LumaroFormBoundary-") +
                             QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    addRequestHeader(QStringLiteral("Content-Type"),
                     QStringLiteral("multipart/form-data; charset=") +
                         ianaCharSetNameForEncoding(stringEncoding()) +
                         QStringLiteral("; boundary=") + boundary);
    const QString separator = QStringLiteral("\r\n--") + boundary + QStringLiteral("\r\n");

    appendPostString(QStringLiteral("--") + boundary + QStringLiteral("\r\n"));
    for (qsizetype i = 0; i < values.size(); ++i) {
        appendPostString(QStringLiteral("Content-Disposition: form-data; name=\"") + values[i].key +
                         QStringLiteral("\"\r\n\r\n"));
        appendPostString(values[i].value.value_or(QString()));
        if (i < values.size() - 1 || !files.isEmpty()) appendPostString(separator);
    }
    for (qsizetype i = 0; i < files.size(); ++i) {
        const FormFile& file = files[i];
        appendPostString(QStringLiteral("Content-Disposition: form-data; name=\"") + file.key +
                         QStringLiteral("\"; filename=\"") + file.fileName +
                         QStringLiteral("\"\r\n"));
        appendPostString(QStringLiteral("Content-Type: ") + file.contentType +
                         QStringLiteral("\r\n\r\n"));
        if (const auto* path = std::get_if<QString>(&file.data)) {
            appendPostFile(*path);
            if (error_) return;
        } else if (bodyParts_) {
            bodyParts_->appendBytes(std::get<QByteArray>(file.data));
        } else {
            appendPostData(std::get<QByteArray>(file.data));
        }
        if (i < files.size() - 1) appendPostString(separator);
    }
    appendPostString(QStringLiteral("\r\n--") + boundary + QStringLiteral("--\r\n"));
}

void FormDataRequest::appendPostString(const QString& text) {
    const std::optional<QByteArray> bytes = encodeString(text, stringEncoding());
    if (!bytes) return;
    if (bodyParts_) {
        bodyParts_->appendBytes(*bytes);
    } else {
        appendPostData(*bytes);
    }
}

void FormDataRequest::appendPostFile(const QString& path) {
    if (!bodyParts_) {
        appendPostDataFromFile(path);
        return;
    }
    // A file that went away or cannot be read since it was added would leave its part
    // silently empty: the request fails instead.
    if (ErrorPtr error = bodyParts_->appendFile(path)) failWithError(error);
}

QString FormDataRequest::encodeURL(const QString& text) const {
    const std::optional<QByteArray> bytes = encodeString(text, stringEncoding());
    if (!bytes) return QString();
    static constexpr char kHex[] = "0123456789ABCDEF";
    QString escaped;
    escaped.reserve(bytes->size() * 3);
    for (const char c : *bytes) {
        if (isUnreserved(c)) {
            escaped += QLatin1Char(c);
        } else {
            const auto byte = static_cast<unsigned char>(c);
            escaped += QLatin1Char('%');
            escaped += QLatin1Char(kHex[byte >> 4]);
            escaped += QLatin1Char(kHex[byte & 0x0F]);
        }
    }
    return escaped;
}

std::optional<platform::HttpRequestBody> FormDataRequest::streamedPostBody() {
    if (!bodyParts_ || hasMainRequest_) return std::nullopt;
    if (ErrorPtr error = bodyParts_->checkFileSizes()) {
        failWithError(error);
        return std::nullopt;
    }
    auto reader = std::make_shared<FormBodyReader>(bodyParts_);
    {
        std::lock_guard lock(formMutex_);
        bodyReader_ = reader;
    }
    return platform::HttpRequestBody::fromPull(
        [reader](char* buffer, qint64 maxLength) { return reader->read(buffer, maxLength); },
        static_cast<qint64>(bodyParts_->length()));
}

ErrorPtr FormDataRequest::streamedPostBodyError() const {
    std::lock_guard lock(formMutex_);
    return bodyReader_ ? bodyReader_->error() : nullptr;
}

// ---- Copying ----

HTTPRequestPtr FormDataRequest::copyWithZone() const {
    HTTPRequestPtr copy = HTTPRequest::copyWithZone();
    auto* form = static_cast<FormDataRequest*>(copy.get());
    std::scoped_lock lock(cancelledLock_, formMutex_);
    form->postData_ = postData_;
    form->fileData_ = fileData_;
    form->postFormat_ = postFormat_.load();
    form->stringEncoding_ = stringEncoding_.load();
    form->setRequestMethod(requestMethod_);
    // A body already built is sent by the copy as well; its parts never change once built.
    form->bodyParts_ = bodyParts_;
    return copy;
}

}  // namespace http
