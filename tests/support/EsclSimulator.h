// An eSCL ("AirScan") network scanner for tests, served on 127.0.0.1 from a thread of the test
// program: a flatbed and a feeder (simplex and duplex), colour, gray and black-and-white,
// 75–600 dpi, JPEG pages. It records every scan request, marks each page with its sheet number
// and side so tests can tell pages apart after any conversion, and can be told to serve a
// blank sheet, to go silent after some pages, or to drop the connection.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace kelvo::test {

// One ScanSettings request as the scanner received it.
struct EsclScanSettings {
    QString inputSource;  // Platen, Feeder
    QString colorMode;    // RGB24, Grayscale8, BlackAndWhite1
    int xResolution = 0;
    int yResolution = 0;
    int xOffset = 0;      // scan region, in 1/300 inch
    int yOffset = 0;
    int width = 0;
    int height = 0;
    bool duplex = false;
    QByteArray xml;
};

class EsclSimulator {
public:
    EsclSimulator();
    ~EsclSimulator();  // stops the server
    EsclSimulator(const EsclSimulator&) = delete;
    EsclSimulator& operator=(const EsclSimulator&) = delete;

    // Listens on 127.0.0.1, on a free port. False when it cannot.
    bool start();
    void stop();
    quint16 port() const;
    QString url() const;  // http://127.0.0.1:<port>/eSCL

    // Sheets in the feeder (default 5); each job takes them until it is empty.
    void setSheets(int sheets);
    // Sheet `n` (1, 2, …) is white on both sides; 0 for none.
    void setBlankSheet(int n);
    // After this many pages served in all, NextDocument gets no answer at all (-1: never).
    void stallAfterPages(int pages);
    // After this many pages served in all, NextDocument's connection is cut (-1: never).
    void dropAfterPages(int pages);

    std::vector<EsclScanSettings> scanSettings() const;
    int pagesServed() const;
    int jobsDeleted() const;
    QStringList requests() const;  // "GET /eSCL/ScannerStatus", … in order

    // A SANE configuration directory that reaches this scanner (and nothing else) through
    // sane-airscan: dll.conf naming airscan, airscan.conf naming this scanner, discovery off.
    bool writeSaneConfig(const QString& dir) const;

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

// What a page served by the simulator says of itself: the sheet number and the side, read
// from its marks (valid is false for a page without them, a blank one for example). Works
// on colour, gray and 1-bit pages.
struct PageMark {
    bool valid = false;
    int sheet = 0;
    bool back = false;
    bool operator==(const PageMark&) const = default;
};
PageMark readPageMark(const QImage& page);
// The page the simulator serves for a sheet and side, at a size in pixels.
QImage markedPage(int width, int height, int sheet, bool back, bool colour);

} // namespace kelvo::test
