#pragma once

#include <QString>
#include <QStringList>

// --cache DIR and its companions: answers kept on disk between requests.
struct FetchCacheOptions {
    // Empty: no cache.
    QString directory;
    // The cache policy bits; 0 takes the cache's default (use a fresh copy, revalidate a
    // stale one).
    int policy = 0;
    // Kept across runs of the tool; otherwise only for this run, whose start empties the
    // session store.
    bool permanent = false;
    // Freshness in seconds that overrides what the server says; 0 leaves it to the server.
    double seconds = 0;
};

// Takes the cache option at arguments[*index] (and its value, advancing *index). Answers
// false, with *problem set, when it is not one or its value is bad.
bool parseCacheOption(const QStringList& arguments, qsizetype* index, FetchCacheOptions* cache,
                      QString* problem);
bool isCacheOption(const QString& argument);
