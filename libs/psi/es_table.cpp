#include "es_table.h"

namespace
{

struct StreamTypeRow {
    const char *shortName;
    const char *description;
    quint8 streamType;
    es_kind kind;
    const char *codec; // nullptr: no codec word
};

// ISO/IEC 13818-1 Table 2-34, as the operator sees it (typos included: they are the product's texts).
const StreamTypeRow STREAM_TYPES[] = {
    { "ITU-T | ISO/IEC Reserved", "ITU-T | ISO/IEC Reserved", 0x00, es_kind::Data, nullptr },
    { "MPEG-1 Video", "MPEG-1 Video ISO/IEC 11172 Video", 0x01, es_kind::Video, "mpeg1video" },
    { "MPEG-2 Video",
        "MPEG-2 Video ITU-T Rec. H.262 | ISO/IEC 13818-2 Video or ISO/IEC 11172-2 constrained parameter video stream",
        0x02, es_kind::Video, "mpeg2video" },
    { "MPEG-1 Audio", "MPEG-1 Audio ISO/IEC 11172 Audio", 0x03, es_kind::Audio, "mpeg1audio" },
    { "MPEG-2 Audio", "MPEG-2 Audio ISO/IEC 13818-3 Audio", 0x04, es_kind::Audio, "mpeg2audio" },
    { "Private data", "ITU-T Rec. H.222.0 | ISO/IEC 13818-1 private_sections", 0x05, es_kind::Data, nullptr },
    { "Private data", "ITU-T Rec. H.222.0 | ISO/IEC 13818-1 PES packets containing private data", 0x06, es_kind::Data,
        nullptr },
    { "ISO/IEC 13522 MHEG", "ISO/IEC 13522 MHEG", 0x07, es_kind::Data, nullptr },
    { "ITU-T Rec. H.222.0 | ISO/IEC 13818-1 Annex A DSM-CC", "ITU-T Rec. H.222.0 | ISO/IEC 13818-1 Annex A DSM-CC",
        0x08, es_kind::Data, nullptr },
    { "ITU-T Rec. H.222.0 | ISO/IEC 13818-1/11172-1 auxiliary",
        "ITU-T Rec. H.222.0 | ISO/IEC 13818-1/11172-1 auxiliary", 0x09, es_kind::Data, nullptr },
    { "ISO/IEC 13818-6 Multiprotocol encapsulation", "ISO/IEC 13818-6 Multiprotocol encapsulation", 0x0A, es_kind::Data,
        nullptr },
    { "ISO/IEC 13818-6 DSM-CC U-N Messages", "ISO/IEC 13818-6 DSM-CC U-N Messages", 0x0B, es_kind::Data, nullptr },
    { "ISO/IEC 13818-6 Stream Descriptors", "ISO/IEC 13818-6 Stream Descriptors", 0x0C, es_kind::Data, nullptr },
    { "ISO/IEC 13818-6 Sections (any type, including private data)",
        "ISO/IEC 13818-6 Sections (any type, including private data)", 0x0D, es_kind::Data, nullptr },
    { "ISO/IEC 13818-1 auxiliary", "ISO/IEC 13818-1 auxiliary", 0x0E, es_kind::Data, nullptr },
    { "ISO/IEC 13818-7 Audio with ADTS transport sytax", "ISO/IEC 13818-7 Audio with ADTS transport sytax", 0x0F,
        es_kind::Audio, "aac" },
    { "ISO/IEC 14496-2 Visual", "ISO/IEC 14496-2 Visual", 0x10, es_kind::Video, "mpeg4" },
    { "ISO/IEC 14496-3 Audio with LATM transport syntax as def. in ISO/IEC 14496-3/AMD1",
        "ISO/IEC 14496-3 Audio with LATM transport syntax as def. in ISO/IEC 14496-3/AMD1", 0x11, es_kind::Audio,
        "aac_latm" },
    { "ISO/IEC 14496-1 SL-packetized stream or FlexMux stream carried in PES packets",
        "ISO/IEC 14496-1 SL-packetized stream or FlexMux stream carried in PES packets", 0x12, es_kind::Data, nullptr },
    { "ISO/IEC 14496-1 SL-packetized stream or FlexMux stream carried in ISO/IEC 14496 sections",
        "ISO/IEC 14496-1 SL-packetized stream or FlexMux stream carried in ISO/IEC 14496 sections", 0x13, es_kind::Data,
        nullptr },
    { "ISO/IEC 13818-6 DSM-CC synchronized download protocol", "ISO/IEC 13818-6 DSM-CC synchronized download protocol",
        0x14, es_kind::Data, nullptr },
    { "Metadata carried in PES packets using the Metadata Access Unit Wrapper",
        "Metadata carried in PES packets using the Metadata Access Unit Wrapper", 0x15, es_kind::Data, nullptr },
    { "Metadata carried in metadata_sections", "Metadata carried in metadata_sections", 0x16, es_kind::Data, nullptr },
    { "Metadata carried in ISO/IEC 13818-6 (DSM-CC) Data Carousel",
        "Metadata carried in ISO/IEC 13818-6 (DSM-CC) Data Carousel", 0x17, es_kind::Data, nullptr },
    { "Metadata carried in ISO/IEC 13818-6 (DSM-CC) Object Carousel",
        "Metadata carried in ISO/IEC 13818-6 (DSM-CC) Object Carousel", 0x18, es_kind::Data, nullptr },
    { "Metadata carried in ISO/IEC 13818-6 Synchronized Download Protocol using the Metadata Access Unit Wrapper",
        "Metadata carried in ISO/IEC 13818-6 Synchronized Download Protocol using the Metadata Access Unit Wrapper",
        0x19, es_kind::Data, nullptr },
    { "IPMP stream (defined in ISO/IEC 13818-11, MPEG-2 IPMP)",
        "IPMP stream (defined in ISO/IEC 13818-11, MPEG-2 IPMP)", 0x1A, es_kind::Data, nullptr },
    { "AVC/H.264 Video", "AVC/H.264 Video AVC video stream as defined in ITU-T Rec. H.264 | ISO/IEC 14496-10 Video",
        0x1B, es_kind::Video, "h264" },
    // Assigned since: ITU-T Rec. H.222.0 | ISO/IEC 13818-1 Table 2-34 as amended to date.
    { "MPEG-4 Audio", "ISO/IEC 14496-3 Audio, without using any additional transport syntax, such as DST, ALS and SLS",
        0x1C, es_kind::Audio, "mpeg4audio" },
    { "MPEG-4 Timed Text", "ISO/IEC 14496-17 Text", 0x1D, es_kind::Text, "timed_text" },
    { "Auxiliary Video", "Auxiliary video stream as defined in ISO/IEC 23002-3", 0x1E, es_kind::Video, nullptr },
    { "SVC Video",
        "SVC video sub-bitstream of an AVC video stream conforming to one or more profiles defined in Annex G of "
        "ITU-T Rec. H.264 | ISO/IEC 14496-10",
        0x1F, es_kind::Video, "h264" },
    { "MVC Video",
        "MVC video sub-bitstream of an AVC video stream conforming to one or more profiles defined in Annex H of "
        "ITU-T Rec. H.264 | ISO/IEC 14496-10",
        0x20, es_kind::Video, "h264" },
    { "JPEG 2000 Video",
        "Video stream conforming to one or more profiles as defined in ITU-T Rec. T.800 | ISO/IEC 15444-1", 0x21,
        es_kind::Video, "jpeg2000" },
    { "MPEG-2 Video (3D additional view)",
        "Additional view ITU-T Rec. H.262 | ISO/IEC 13818-2 video stream for service-compatible stereoscopic 3D "
        "services",
        0x22, es_kind::Video, "mpeg2video" },
    { "AVC/H.264 Video (3D additional view)",
        "Additional view ITU-T Rec. H.264 | ISO/IEC 14496-10 video stream for service-compatible stereoscopic 3D "
        "services",
        0x23, es_kind::Video, "h264" },
    { "HEVC/H.265 Video",
        "HEVC/H.265 Video ITU-T Rec. H.265 | ISO/IEC 23008-2 video stream or an HEVC temporal video sub-bitstream",
        0x24, es_kind::Video, "hevc" },
    { "HEVC/H.265 Video temporal subset",
        "HEVC temporal video subset of an HEVC video stream conforming to one or more profiles defined in Annex A of "
        "ITU-T Rec. H.265 | ISO/IEC 23008-2",
        0x25, es_kind::Video, "hevc" },
    { "MVCD Video",
        "MVCD video sub-bitstream of an AVC video stream conforming to one or more profiles defined in Annex I of "
        "ITU-T Rec. H.264 | ISO/IEC 14496-10",
        0x26, es_kind::Video, "h264" },
    { "Timeline and External Media Information", "Timeline and External Media Information Stream", 0x27, es_kind::Data,
        nullptr },
    { "HEVC/H.265 Video enhancement sub-partition (Annex G)",
        "HEVC enhancement sub-partition which includes TemporalId 0 of an HEVC video stream where all NAL units "
        "contained in the stream conform to one or more profiles defined in Annex G of ITU-T Rec. H.265 | "
        "ISO/IEC 23008-2",
        0x28, es_kind::Video, "hevc" },
    { "HEVC/H.265 Video temporal enhancement sub-partition (Annex G)",
        "HEVC temporal enhancement sub-partition of an HEVC video stream where all NAL units contained in the stream "
        "conform to one or more profiles defined in Annex G of ITU-T Rec. H.265 | ISO/IEC 23008-2",
        0x29, es_kind::Video, "hevc" },
    { "HEVC/H.265 Video enhancement sub-partition (Annex H)",
        "HEVC enhancement sub-partition which includes TemporalId 0 of an HEVC video stream where all NAL units "
        "contained in the stream conform to one or more profiles defined in Annex H of ITU-T Rec. H.265 | "
        "ISO/IEC 23008-2",
        0x2A, es_kind::Video, "hevc" },
    { "HEVC/H.265 Video temporal enhancement sub-partition (Annex H)",
        "HEVC temporal enhancement sub-partition of an HEVC video stream where all NAL units contained in the stream "
        "conform to one or more profiles defined in Annex H of ITU-T Rec. H.265 | ISO/IEC 23008-2",
        0x2B, es_kind::Video, "hevc" },
    { "Green access units", "Green access units carried in MPEG-2 sections", 0x2C, es_kind::Data, nullptr },
    { "MPEG-H 3D Audio", "ISO/IEC 23008-3 Audio with MHAS transport syntax - main stream", 0x2D, es_kind::Audio,
        "mpegh_3d_audio" },
    { "MPEG-H 3D Audio auxiliary stream", "ISO/IEC 23008-3 Audio with MHAS transport syntax - auxiliary stream", 0x2E,
        es_kind::Audio, "mpegh_3d_audio" },
    { "Quality access units", "Quality access units carried in sections", 0x2F, es_kind::Data, nullptr },
    { "Media Orchestration access units", "Media Orchestration Access Units carried in sections", 0x30, es_kind::Data,
        nullptr },
    { "HEVC/H.265 Video MCTS substream",
        "Substream of an ITU-T Rec. H.265 | ISO/IEC 23008-2 video stream that contains a Motion Constrained Tile Set, "
        "parameter sets, slice headers or a combination thereof",
        0x31, es_kind::Video, "hevc" },
    { "JPEG XS Video", "JPEG XS video stream conforming to one or more profiles as defined in ISO/IEC 21122-2", 0x32,
        es_kind::Video, "jpegxs" },
    { "VVC/H.266 Video",
        "VVC/H.266 Video ITU-T Rec. H.266 | ISO/IEC 23090-3 video stream or a VVC temporal video sub-bitstream", 0x33,
        es_kind::Video, "vvc" },
    { "VVC/H.266 Video temporal subset",
        "VVC temporal video subset of a VVC video stream conforming to one or more profiles defined in Annex A of "
        "ITU-T Rec. H.266 | ISO/IEC 23090-3",
        0x34, es_kind::Video, "vvc" },
    { "EVC Video",
        "EVC video stream or an EVC temporal video sub-bitstream conforming to one or more profiles defined in "
        "ISO/IEC 23094-1",
        0x35, es_kind::Video, "evc" },
    { "IPMP stream", "IPMP stream", 0x7F, es_kind::Data, nullptr },
    { "MPE-FEC data", "MPE-FEC data", 0x90, es_kind::Data, nullptr },
};

// ISO/IEC 13818-1 Table 2-45 (tags 0x00-0x3F) and ETSI EN 300 468 Table 12 (tags 0x40-0x7F).
const char *const DESCRIPTOR_NAMES[128] = {
    "Reserved", // 0x00
    "Reserved", // 0x01
    "Video Stream", // 0x02
    "Audio Stream", // 0x03
    "Hierarchy", // 0x04
    "Registration", // 0x05
    "Data Stream Alignment", // 0x06
    "Target Background Grid", // 0x07
    "Video Window", // 0x08
    "CA", // 0x09
    "ISO-639 Language", // 0x0A
    "System Clock", // 0x0B
    "Multiplex Buffer Utilization", // 0x0C
    "Copyright", // 0x0D
    "Maximum Bitrate", // 0x0E
    "Private Data Indicator", // 0x0F
    "Smoothing Buffer", // 0x10
    "STD", // 0x11
    "IBP", // 0x12
    "Carousel Identifier", // 0x13
    "Association Tag", // 0x14
    "Deferred Association Tag", // 0x15
    "ISO/IEC13818-6 Reserved", // 0x16
    "NPT Reference", // 0x17
    "NPT Endpoint", // 0x18
    "Stream Mode", // 0x19
    "Stream Event", // 0x1A
    "MPEG4 Video", // 0x1B
    "MPEG4 Audio", // 0x1C
    "IOD", // 0x1D
    "SL", // 0x1E
    "FMC", // 0x1F
    "External ES ID", // 0x20
    "MuxCode", // 0x21
    "FMXBufferSize", // 0x22
    "MultiplexBuffer", // 0x23
    "Content Labeling", // 0x24
    "Metadata Pointer", // 0x25
    "Metadata", // 0x26
    "Metadata STD", // 0x27
    "AVC Video", // 0x28
    "IPMP (0xMPEG-2 IPMP, ISO 13818-11)", // 0x29
    "AVC Timing_and_HRD", // 0x2A
    "MPEG-2 AAC Audio", // 0x2B
    "FlexMuxTiming", // 0x2C
    "ITU-T.Rec.H.222.0|ISO/IEC13818-1 Reserved", // 0x2D
    "ITU-T.Rec.H.222.0|ISO/IEC13818-1 Reserved", // 0x2E
    "ITU-T.Rec.H.222.0|ISO/IEC13818-1 Reserved", // 0x2F
    "ITU-T.Rec.H.222.0|ISO/IEC13818-1 Reserved", // 0x30
    "ITU-T.Rec.H.222.0|ISO/IEC13818-1 Reserved", // 0x31
    "ITU-T.Rec.H.222.0|ISO/IEC13818-1 Reserved", // 0x32
    "ITU-T.Rec.H.222.0|ISO/IEC13818-1 Reserved", // 0x33
    "ITU-T.Rec.H.222.0|ISO/IEC13818-1 Reserved", // 0x34
    "ITU-T.Rec.H.222.0|ISO/IEC13818-1 Reserved", // 0x35
    "ITU-T.Rec.H.222.0|ISO/IEC13818-1 Reserved", // 0x36
    "ITU-T.Rec.H.222.0|ISO/IEC13818-1 Reserved", // 0x37
    "ITU-T.Rec.H.222.0|ISO/IEC13818-1 Reserved", // 0x38
    "ITU-T.Rec.H.222.0|ISO/IEC13818-1 Reserved", // 0x39
    "ITU-T.Rec.H.222.0|ISO/IEC13818-1 Reserved", // 0x3A
    "ITU-T.Rec.H.222.0|ISO/IEC13818-1 Reserved", // 0x3B
    "ITU-T.Rec.H.222.0|ISO/IEC13818-1 Reserved", // 0x3C
    "ITU-T.Rec.H.222.0|ISO/IEC13818-1 Reserved", // 0x3D
    "ITU-T.Rec.H.222.0|ISO/IEC13818-1 Reserved", // 0x3E
    "ITU-T.Rec.H.222.0|ISO/IEC13818-1 Reserved", // 0x3F
    "Network Name", // 0x40
    "Service List", // 0x41
    "Stuffing", // 0x42
    "Satellite Delivery System", // 0x43
    "Cable Delivery System", // 0x44
    "VBI Data", // 0x45
    "VBI Teletext", // 0x46
    "Bouquet Name", // 0x47
    "Service", // 0x48
    "Country Availibility", // 0x49
    "Linkage", // 0x4A
    "NVOD Reference", // 0x4B
    "Time Shifted Service", // 0x4C
    "Short Event", // 0x4D
    "Extended Event", // 0x4E
    "Time Shifted Event", // 0x4F
    "Component", // 0x50
    "Mosaic", // 0x51
    "Stream Identifier", // 0x52
    "CA Identifier", // 0x53
    "Content", // 0x54
    "Parental Rating", // 0x55
    "Teletext", // 0x56
    "Telephone", // 0x57
    "Local Time Offset", // 0x58
    "Subtitling", // 0x59
    "Terrestrial Delivery System", // 0x5A
    "Multilingual Network Name", // 0x5B
    "Multilingual Bouquet Name", // 0x5C
    "Multilingual Service Name", // 0x5D
    "Multilingual Component", // 0x5E
    "Private Data Specifier", // 0x5F
    "Service Move", // 0x60
    "Short Smoothing Buffer", // 0x61
    "Frequency List", // 0x62
    "Partial Transport Stream", // 0x63
    "Data Broadcast", // 0x64
    "Scrambling", // 0x65
    "Data Broadcast id", // 0x66
    "Transport Stream", // 0x67
    "DSNG", // 0x68
    "PDC", // 0x69
    "AC3", // 0x6A
    "Ancillary_data", // 0x6B
    "Cell List", // 0x6C
    "Cell Frequency List", // 0x6D
    "Announcement Support", // 0x6E
    "Application Signalling", // 0x6F
    "Adaptation Field Data", // 0x70
    "Service Identifier", // 0x71
    "Service Availability", // 0x72
    "Default Authority", // 0x73
    "Related Content", // 0x74
    "TVA id", // 0x75
    "Content Identifier", // 0x76
    "Time Slice Fec Identifier", // 0x77
    "ECM Repetition Rate", // 0x78
    "S2 Satellite Delivery System", // 0x79
    "Enhanced AC-3", // 0x7A
    "DTS", // 0x7B
    "AAC", // 0x7C
    "Reserved", // 0x7D
    "Extension", // 0x7E
    "User defined/ATSC Reserved", // 0x7F
};

const char USER_PRIVATE[] = "User private";
const char RESERVED[] = "ITU-T Rec. H.222.0 | ISO/IEC 13818-1 Reserved";
constexpr quint8 FIRST_USER_PRIVATE = 0x7F;
constexpr quint8 PES_PRIVATE_DATA = 0x06;

// ETSI EN 300 468 descriptors that tell what a PES private data stream carries (6.2; AC-3 and E-AC-3 in
// Annex D, DTS in Annex G, AAC in Annex H).
struct PrivateDataRow {
    quint8 tag;
    const char *shortName;
    es_kind kind;
    const char *codec;
};
const PrivateDataRow PRIVATE_DATA[] = {
    { 0x6A, "AC-3 Audio", es_kind::Audio, "ac3" },
    { 0x7A, "E-AC-3 Audio", es_kind::Audio, "eac3" },
    { 0x7B, "DTS Audio", es_kind::Audio, "dts" },
    { 0x7C, "AAC Audio", es_kind::Audio, "aac" },
    { 0x59, "DVB Subtitling", es_kind::Text, "dvb_subtitle" },
    { 0x56, "Teletext", es_kind::Text, "dvb_teletext" },
};

} // namespace

es_table::es_table(QObject *parent)
    : table(parent, 0, 0)
{
    for (const StreamTypeRow &row : STREAM_TYPES)
        streamTypeList.append({ QString::fromLatin1(row.shortName), QString::fromLatin1(row.description),
            row.streamType, row.kind, QString::fromLatin1(row.codec) });
    for (int tag = 0; tag < 128; ++tag)
        descriptorList.append({ quint8(tag), QString::fromLatin1(DESCRIPTOR_NAMES[tag]) });
}

es_names es_table::lookup(quint8 value) const
{
    es_names names;
    bool found = false;
    for (const stream_type_record &record : streamTypeList) {
        if (record.stream_type == value) {
            names.short_name = record.short_name;
            names.description = record.description;
            names.codec = record.codec;
            names.kind = record.kind;
            found = true;
            break;
        }
    }
    if (!found) {
        names.short_name = QString::fromLatin1(value >= FIRST_USER_PRIVATE ? USER_PRIVATE : RESERVED);
        names.description = names.short_name;
    }
    if (value < descriptorList.size())
        names.descriptor_name = descriptorList.at(value).name;
    return names;
}

es_names es_table::describe(const es_entry &stream) const
{
    es_names names = lookup(stream.stream_type);
    names.descriptor_name = lookup(stream.first_descriptor_tag).descriptor_name;
    if (stream.stream_type != PES_PRIVATE_DATA)
        return names;
    for (const quint8 tag : stream.descriptor_tags) {
        for (const PrivateDataRow &row : PRIVATE_DATA) {
            if (row.tag != tag)
                continue;
            names.short_name = QString::fromLatin1(row.shortName);
            names.description = names.short_name + QStringLiteral(" carried as private data (")
                + descriptorList.at(tag).name + QStringLiteral(" descriptor): ") + names.description;
            names.kind = row.kind;
            names.codec = QString::fromLatin1(row.codec);
            return names;
        }
    }
    return names;
}
