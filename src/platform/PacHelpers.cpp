#include "platform/PacHelpers.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/PacWatchdog.h"

namespace platform {

namespace {

QString firstIPv4(const QList<QHostAddress>& addresses) {
    for (const QHostAddress& address : addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol) return address.toString();
    }
    return {};
}

// getaddrinfo cannot be interrupted: the lookup runs on a thread of its own and is left to
// finish there when the caller stops waiting.
QString resolveBefore(const QString& host, std::chrono::steady_clock::time_point deadline) {
    struct Lookup {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        QString address;
    };
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host] {
        const QString address = firstIPv4(QHostInfo::fromName(host).addresses());
        std::lock_guard lock(lookup->mutex);
        lookup->address = address;
        lookup->finished = true;
        lookup->done.notify_one();
    }).detach();
    std::unique_lock lock(lookup->mutex);
    lookup->done.wait_until(lock, deadline, [&] { return lookup->finished; });
    return lookup->address;
}

}  // namespace

QJSValue PacHelpers::dnsResolve(const QString& host) const {
    if (host.isEmpty()) return QJSValue(QJSValue::NullValue);
    const QHostAddress literal(host);
    if (literal.protocol() == QAbstractSocket::IPv4Protocol) return QJSValue(literal.toString());
    const QString address = resolveBefore(host, watchdog_->deadline());
    return address.isEmpty() ? QJSValue(QJSValue::NullValue) : QJSValue(address);
}

QString PacHelpers::myIpAddress() const {
    // The first address of an interface that is up and not the loopback; the loopback when
    // there is none. No packet is sent to find it.
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        const auto flags = interface.flags();
        if (!(flags & QNetworkInterface::IsUp) || (flags & QNetworkInterface::IsLoopBack)) {
            continue;
        }
        for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol) {
                return entry.ip().toString();
            }
        }
    }
    return QStringLiteral("127.0.0.1");
}

double PacHelpers::now() const {
    const QDateTime time = clock_ ? clock_() : QDateTime::currentDateTimeUtc();
    return static_cast<double>(time.toMSecsSinceEpoch());
}

const char* PacHelpers::script() {
    return R"JS(
// Scripts ask the same few questions again and again (the same patterns, masks, hosts):
// answers of a pure helper are kept per argument, which is always a string. A script that
// makes arguments up as it goes does not fill memory with them.
function __remembered(compute) {
    // An object without a prototype: a Map searches its keys one by one in this engine,
    // and "constructor" or "__proto__" must not find anything inherited.
    var answers = Object.create(null), count = 0;
    return function (key) {
        var answer = answers[key];
        if (answer === undefined) {
            if (count >= 1000) { answers = Object.create(null); count = 0; }
            answer = answers[key] = compute(key);
            ++count;
        }
        return answer;
    };
}

var __lower = __remembered(function (text) { return text.toLowerCase(); });

function isPlainHostName(host) {
    if (typeof host !== 'string') host = String(host);
    return host.indexOf('.') < 0;
}

// Host names come lower case from the address; the script's own text may not.
function dnsDomainIs(host, domain) {
    if (typeof host !== 'string') host = String(host);
    if (typeof domain !== 'string') domain = String(domain);
    return host.endsWith(domain) || __lower(host).endsWith(__lower(domain));
}

function localHostOrDomainIs(host, hostdom) {
    if (typeof host !== 'string') host = String(host);
    if (typeof hostdom !== 'string') hostdom = String(hostdom);
    if (host === hostdom) return true;
    host = __lower(host);
    hostdom = __lower(hostdom);
    if (host === hostdom) return true;
    return host.indexOf('.') < 0 && hostdom.length > host.length &&
        hostdom.charCodeAt(host.length) === 46 && hostdom.startsWith(host);
}

function dnsResolve(host) { return __pacHelpers.dnsResolve(String(host)); }
function isResolvable(host) { return dnsResolve(host) !== null; }
function myIpAddress() { return __pacHelpers.myIpAddress(); }
function dnsDomainLevels(host) {
    if (typeof host !== 'string') host = String(host);
    var levels = 0;
    for (var i = host.indexOf('.'); i >= 0; i = host.indexOf('.', i + 1)) ++levels;
    return levels;
}

// Dotted IPv4 text to its number, or null.
var __ipv4 = __remembered(function (text) {
    var m = /^(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})$/.exec(text);
    if (!m) return null;
    var value = 0;
    for (var i = 1; i <= 4; i++) {
        var octet = Number(m[i]);
        if (octet > 255) return null;
        value = value * 256 + octet;
    }
    return value;
});

function isInNet(host, pattern, mask) {
    var ip = __ipv4(typeof host === 'string' ? host : String(host));
    if (ip === null) {
        var resolved = dnsResolve(host);
        if (resolved === null) return false;
        ip = __ipv4(resolved);
    }
    var p = __ipv4(String(pattern)), m = __ipv4(String(mask));
    if (ip === null || p === null || m === null) return false;
    return ((ip & m) >>> 0) === ((p & m) >>> 0);
}

// Each pattern is turned into a test once.
// Patterns with one "*" at an end only (the usual "*.example.com", "10.*") need no
// regular expression.
var __shTest = __remembered(function (shexp) {
    var star = shexp.indexOf('*');
    var plain = shexp.indexOf('?') < 0;
    if (plain && star < 0) return function (s) { return s === shexp; };
    if (plain && star === shexp.length - 1) {
        var prefix = shexp.substring(0, star);
        return function (s) { return s.substring(0, prefix.length) === prefix; };
    }
    if (plain && star === 0 && shexp.indexOf('*', 1) < 0) {
        var suffix = shexp.substring(1);
        return function (s) {
            return s.length >= suffix.length && s.substring(s.length - suffix.length) === suffix;
        };
    }
    var re = '^';
    for (var i = 0; i < shexp.length; i++) {
        var c = shexp.charAt(i);
        if (c === '*') re += '.*';
        else if (c === '?') re += '.';
        else re += c.replace(/[\\^$.|+()\[\]{}\/]/g, '\\$&');
    }
    var compiled = new RegExp(re + '$');
    return function (s) { return compiled.test(s); };
});

function shExpMatch(str, shexp) {
    var test = __shTest(typeof shexp === 'string' ? shexp : String(shexp));
    return test(typeof str === 'string' ? str : String(str));
}

var __weekdays = ['SUN', 'MON', 'TUE', 'WED', 'THU', 'FRI', 'SAT'];
var __months = ['JAN', 'FEB', 'MAR', 'APR', 'MAY', 'JUN', 'JUL', 'AUG', 'SEP', 'OCT', 'NOV', 'DEC'];

// The arguments without a last "GMT", whether it was there, and the time now.
function __timeArguments(args) {
    var list = Array.prototype.slice.call(args);
    var gmt = list.length > 0 && String(list[list.length - 1]).toUpperCase() === 'GMT';
    if (gmt) list.pop();
    return { list: list, gmt: gmt, now: new Date(__pacHelpers.now()) };
}

// low..high inclusive; a range whose low is above its high wraps around.
function __within(value, low, high) {
    return low <= high ? value >= low && value <= high : value >= low || value <= high;
}

function weekdayRange() {
    var a = __timeArguments(arguments);
    var today = a.gmt ? a.now.getUTCDay() : a.now.getDay();
    var first = __weekdays.indexOf(String(a.list[0]).toUpperCase());
    if (first < 0) return false;
    if (a.list.length < 2) return today === first;
    var last = __weekdays.indexOf(String(a.list[1]).toUpperCase());
    if (last < 0) return false;
    return __within(today, first, last);
}

// Days are 1..31, years above 31, months by their three-letter names.
function dateRange() {
    var a = __timeArguments(arguments), n = a.now;
    var today = {
        d: a.gmt ? n.getUTCDate() : n.getDate(),
        m: a.gmt ? n.getUTCMonth() : n.getMonth(),
        y: a.gmt ? n.getUTCFullYear() : n.getFullYear()
    };
    var parts = [];
    for (var i = 0; i < a.list.length; i++) {
        var v = a.list[i];
        var month = __months.indexOf(String(v).toUpperCase());
        if (month >= 0) { parts.push({ kind: 'm', value: month }); continue; }
        var number = Number(v);
        if (isNaN(number)) return false;
        parts.push({ kind: number > 31 ? 'y' : 'd', value: number });
    }
    if (parts.length === 1) return today[parts[0].kind] === parts[0].value;
    if (parts.length !== 2 && parts.length !== 4 && parts.length !== 6) return false;
    var half = parts.length / 2, weight = { y: 10000, m: 100, d: 1 };
    var low = 0, high = 0, now = 0, years = false;
    for (var j = 0; j < half; j++) {
        var kind = parts[j].kind;
        if (parts[j + half].kind !== kind) return false;
        if (kind === 'y') years = true;
        low += weight[kind] * parts[j].value;
        high += weight[kind] * parts[j + half].value;
        now += weight[kind] * today[kind];
    }
    return years ? now >= low && now <= high : __within(now, low, high);
}

// A single hour covers that hour; a range includes its start and ends before its end.
function timeRange() {
    var a = __timeArguments(arguments), n = a.now;
    var l = a.list.map(Number);
    var h = a.gmt ? n.getUTCHours() : n.getHours();
    var now = h * 3600 + (a.gmt ? n.getUTCMinutes() : n.getMinutes()) * 60 +
        (a.gmt ? n.getUTCSeconds() : n.getSeconds());
    var start, end;
    if (l.length === 1) return h === l[0];
    if (l.length === 2) { start = l[0] * 3600; end = l[1] * 3600; }
    else if (l.length === 4) { start = l[0] * 3600 + l[1] * 60; end = l[2] * 3600 + l[3] * 60; }
    else if (l.length === 6) {
        start = l[0] * 3600 + l[1] * 60 + l[2];
        end = l[3] * 3600 + l[4] * 60 + l[5];
    } else return false;
    return start <= end ? now >= start && now < end : now >= start || now < end;
}
)JS";
}

}  // namespace platform
