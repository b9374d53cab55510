#include "es_table.h"

namespace
{

struct StreamTypeRow {
    const char *shortName;
    const char *description;
    quint8 streamType;
};

// ISO/IEC 13818-1 Table 2-34, as the operator sees it (typos included: they are the product's texts).
const StreamTypeRow STREAM_TYPES[] = {
    { "ITU-T | ISO/IEC Reserved", "ITU-T | ISO/IEC Reserved", 0x00 },
    { "MPEG-1 Video", "MPEG-1 Video ISO/IEC 11172 Video", 0x01 },
    { "MPEG-2 Video",
        "MPEG-2 Video ITU-T Rec. H.262 | ISO/IEC 13818-2 Video or ISO/IEC 11172-2 constrained parameter video stream",
        0x02 },
    { "MPEG-1 Audio", "MPEG-1 Audio ISO/IEC 11172 Audio", 0x03 },
    { "MPEG-2 Audio", "MPEG-2 Audio ISO/IEC 13818-3 Audio", 0x04 },
    { "Private data", "ITU-T Rec. H.222.0 | ISO/IEC 13818-1 private_sections", 0x05 },
    { "Private data", "ITU-T Rec. H.222.0 | ISO/IEC 13818-1 PES packets containing private data", 0x06 },
    { "ISO/IEC 13522 MHEG", "ISO/IEC 13522 MHEG", 0x07 },
    { "ITU-T Rec. H.222.0 | ISO/IEC 13818-1 Annex A DSM-CC", "ITU-T Rec. H.222.0 | ISO/IEC 13818-1 Annex A DSM-CC",
        0x08 },
    { "ITU-T Rec. H.222.0 | ISO/IEC 13818-1/11172-1 auxiliary",
        "ITU-T Rec. H.222.0 | ISO/IEC 13818-1/11172-1 auxiliary", 0x09 },
    { "ISO/IEC 13818-6 Multiprotocol encapsulation", "ISO/IEC 13818-6 Multiprotocol encapsulation", 0x0A },
    { "ISO/IEC 13818-6 DSM-CC U-N Messages", "ISO/IEC 13818-6 DSM-CC U-N Messages", 0x0B },
    { "ISO/IEC 13818-6 Stream Descriptors", "ISO/IEC 13818-6 Stream Descriptors", 0x0C },
    { "ISO/IEC 13818-6 Sections (any type, including private data)",
        "ISO/IEC 13818-6 Sections (any type, including private data)", 0x0D },
    { "ISO/IEC 13818-1 auxiliary", "ISO/IEC 13818-1 auxiliary", 0x0E },
    { "ISO/IEC 13818-7 Audio with ADTS transport sytax", "ISO/IEC 13818-7 Audio with ADTS transport sytax", 0x0F },
    { "ISO/IEC 14496-2 Visual", "ISO/IEC 14496-2 Visual", 0x10 },
    { "ISO/IEC 14496-3 Audio with LATM transport syntax as def. in ISO/IEC 14496-3/AMD1",
        "ISO/IEC 14496-3 Audio with LATM transport syntax as def. in ISO/IEC 14496-3/AMD1", 0x11 },
    { "ISO/IEC 14496-1 SL-packetized stream or FlexMux stream carried in PES packets",
        "ISO/IEC 14496-1 SL-packetized stream or FlexMux stream carried in PES packets", 0x12 },
    { "ISO/IEC 14496-1 SL-packetized stream or FlexMux stream carried in ISO/IEC 14496 sections",
        "ISO/IEC 14496-1 SL-packetized stream or FlexMux stream carried in ISO/IEC 14496 sections", 0x13 },
    { "ISO/IEC 13818-6 DSM-CC synchronized download protocol", "ISO/IEC 13818-6 DSM-CC synchronized download protocol",
        0x14 },
    { "Metadata carried in PES packets using the Metadata Access Unit Wrapper",
        "Metadata carried in PES packets using the Metadata Access Unit Wrapper", 0x15 },
    { "Metadata carried in metadata_sections", "Metadata carried in metadata_sections", 0x16 },
    { "Metadata carried in ISO/IEC 13818-6 (DSM-CC) Data Carousel",
        "Metadata carried in ISO/IEC 13818-6 (DSM-CC) Data Carousel", 0x17 },
    { "Metadata carried in ISO/IEC 13818-6 (DSM-CC) Object Carousel",
        "Metadata carried in ISO/IEC 13818-6 (DSM-CC) Object Carousel", 0x18 },
    { "Metadata carried in ISO/IEC 13818-6 Synchronized Download Protocol using the Metadata Access Unit Wrapper",
        "Metadata carried in ISO/IEC 13818-6 Synchronized Download Protocol using the Metadata Access Unit Wrapper",
        0x19 },
    { "IPMP stream (defined in ISO/IEC 13818-11, MPEG-2 IPMP)",
        "IPMP stream (defined in ISO/IEC 13818-11, MPEG-2 IPMP)", 0x1A },
    { "AVC/H.264 Video", "AVC/H.264 Video AVC video stream as defined in ITU-T Rec. H.264 | ISO/IEC 14496-10 Video",
        0x1B },
    { "IPMP stream", "IPMP stream", 0x7F },
    { "MPE-FEC data", "MPE-FEC data", 0x90 },
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

} // namespace

es_table::es_table(QObject *parent)
    : table(parent, 0)
{
    for (const StreamTypeRow &row : STREAM_TYPES)
        streamTypeList.append(
            { QString::fromLatin1(row.shortName), QString::fromLatin1(row.description), row.streamType });
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
