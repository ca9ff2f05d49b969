#pragma once

#include <QString>
#include <QUrl>

namespace app {

// Outbound addresses of the product, read from its configuration file
// (product.json in the application's resources).
struct ProductLinks {
    QUrl store;       // this product's store page
    QUrl phoneStore;  // the sibling product for phones
    QUrl facebook;    // the product's social-network page
    QUrl twitter;     // the maker's micro-blogging page
    QUrl help;        // the help document

    static const ProductLinks& standard();
    // Reads a configuration document; absent entries stay empty.
    static ProductLinks fromJson(const QByteArray& json);
};

}  // namespace app
