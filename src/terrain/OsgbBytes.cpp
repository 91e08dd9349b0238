#include "terrain/OsgbBytes.h"

#include <osg/Geometry>
#include <osg/MatrixTransform>
#include <osg/PagedLOD>
#include <osgDB/DataTypes>
#include <osgDB/ObjectWrapper>
#include <osgDB/Options>
#include <osgDB/OutputStream>
#include <osgDB/Registry>
#include <osgDB/Serializer>
#include <osgDB/StreamOperator>

#include <algorithm>
#include <cfloat>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace skyframe {

namespace {

// OpenSceneGraph's binary output written straight into a string. Its own writer puts every
// value through std::ostream::write, whose sentry costs more than the copy on the millions
// of floats and indices of a cell's tiles. The bytes are those of the osgb plugin's binary
// iterator: values in the machine's byte order, longs in 32 bits, strings as an int length
// and their characters, and every { } block headed by its length in bytes, patched in when
// the block closes.
class StringOutputIterator final : public osgDB::OutputIterator {
public:
    // Appends to bytes; finish() must be called once the stream is complete.
    explicit StringOutputIterator(std::string& bytes) : bytes_(bytes), size_(bytes.size()) {}
    void finish() { bytes_.resize(size_); }

    bool isBinary() const override { return true; }

    void writeBool(bool b) override { put(static_cast<char>(b ? 1 : 0)); }
    void writeChar(char c) override { put(c); }
    void writeUChar(unsigned char c) override { put(c); }
    void writeShort(short s) override { put(s); }
    void writeUShort(unsigned short s) override { put(s); }
    void writeInt(int i) override { put(i); }
    void writeUInt(unsigned int i) override { put(i); }
    void writeLong(long l) override { put(static_cast<std::int32_t>(l)); }
    void writeULong(unsigned long l) override {
        put(static_cast<std::uint32_t>(static_cast<std::int32_t>(l)));
    }
    void writeInt64(GLint64 ll) override { put(ll); }
    void writeUInt64(GLuint64 ull) override { put(ull); }
    void writeFloat(float f) override { put(f); }
    void writeDouble(double d) override { put(d); }
    void writeString(const std::string& s) override {
        put(static_cast<int>(s.size()));
        append(s.data(), s.size());
    }
    void writeStream(std::ostream& (*)(std::ostream&)) override {}
    void writeBase(std::ios_base& (*)(std::ios_base&)) override {}
    void writeGLenum(const osgDB::ObjectGLenum& value) override { put(value.get()); }
    void writeProperty(const osgDB::ObjectProperty& prop) override {
        if (prop._mapProperty) {
            put(prop._value);
        }
    }
    void writeMark(const osgDB::ObjectMark& mark) override;
    void writeCharArray(const char* s, unsigned int size) override { append(s, size); }
    void writeWrappedString(const std::string& s) override { writeString(s); }
    void flush() override {}

private:
    // The string grows in doublings ahead of size_, so that a value is one inlined copy;
    // std::string::append of four bytes at a time costs as much again as the copy.
    void reserve(std::size_t more) {
        if (size_ + more > bytes_.size()) {
            bytes_.resize(std::max(2 * bytes_.size(), size_ + more + 4096));
        }
    }
    void append(const char* data, std::size_t n) {
        reserve(n);
        std::memcpy(&bytes_[size_], data, n);
        size_ += n;
    }
    template <typename T> void put(T value) {
        reserve(sizeof value);
        std::memcpy(&bytes_[size_], &value, sizeof value);
        size_ += sizeof value;
    }
    template <typename T> void patch(std::size_t at, T value) {
        std::memcpy(&bytes_[at], &value, sizeof value);
    }

    std::string& bytes_;
    std::size_t size_;                    // bytes written so far
    std::vector<std::size_t> openBlocks_; // where each open block's length goes
};

void StringOutputIterator::writeMark(const osgDB::ObjectMark& mark) {
    if (!_supportBinaryBrackets) {
        return;
    }
    // Files of format version 149 and later give block lengths in 64 bits, older ones in 32.
    const bool wide = getOutputStream() != nullptr && getOutputStream()->getFileVersion() > 148;
    if (mark._name == "{") {
        openBlocks_.push_back(size_);
        if (wide) {
            put(std::uint64_t{0});
        } else {
            put(std::int32_t{0});
        }
    } else if (mark._name == "}" && !openBlocks_.empty()) {
        const std::size_t begin = openBlocks_.back();
        openBlocks_.pop_back();
        const std::size_t length = size_ - begin; // from the length field itself
        if (wide) {
            patch(begin, static_cast<std::uint64_t>(length));
        } else {
            patch(begin, static_cast<std::int32_t>(length));
        }
    }
}

// Passed to the streams osgbBytes writes, so that the serializers below know them.
const osgDB::Options& ownStreamMark() {
    static const osg::ref_ptr<osgDB::Options> mark = new osgDB::Options;
    return *mark;
}

// Takes the place of OpenSceneGraph's serializer of the elements of a vector (a vertex array,
// the indices of a primitive set). In binary files the elements follow their count as their
// own bytes, which OpenSceneGraph writes one value at a time through two calls each: for the
// streams osgbBytes writes, the same bytes are copied at once. Every other stream, and every
// read, goes to OpenSceneGraph's serializer.
template <typename C> class WholeVectorSerializer final : public osgDB::BaseSerializer {
public:
    explicit WholeVectorSerializer(osgDB::BaseSerializer& own)
        : BaseSerializer(own.getUsage()), own_(&own) {
        // Protected in the base, reached through a member pointer formed here.
        _firstVersion = own.*(&WholeVectorSerializer::_firstVersion);
        _lastVersion = own.*(&WholeVectorSerializer::_lastVersion);
    }

    bool read(osgDB::InputStream& is, osg::Object& object) override {
        return own_->read(is, object);
    }
    bool write(osgDB::OutputStream& os, const osg::Object& object) override {
        if (os.getOptions() != &ownStreamMark() || !os.isBinary()) {
            return own_->write(os, object);
        }
        const C& elements = static_cast<const C&>(object);
        const auto size = static_cast<unsigned int>(elements.size());
        os << size;
        if (size > 0) {
            os.writeCharArray(reinterpret_cast<const char*>(&elements.front()),
                              size * static_cast<unsigned int>(sizeof elements.front()));
        }
        return true;
    }
    const std::string& getName() const override { return own_->getName(); }
    bool set(osg::Object& object, void* value) override { return own_->set(object, value); }
    bool get(const osg::Object& object, void* value) override { return own_->get(object, value); }

private:
    osg::ref_ptr<osgDB::BaseSerializer> own_;
};

// Puts a WholeVectorSerializer in place of the "vector" serializer of className's wrapper,
// when it is the vector of elements of C that OpenSceneGraph's wrappers have.
template <typename C> void copyElementsWhole(const char* className) {
    osgDB::ObjectWrapper* wrapper =
        osgDB::Registry::instance()->getObjectWrapperManager()->findWrapper(className);
    if (wrapper == nullptr) {
        return;
    }
    for (osg::ref_ptr<osgDB::BaseSerializer>& serializer : wrapper->getSerializerList()) {
        const auto* vector = dynamic_cast<const osgDB::VectorBaseSerializer*>(serializer.get());
        if (vector != nullptr && serializer->getName() == "vector" &&
            vector->getElementSize() == sizeof(typename C::value_type)) {
            serializer = new WholeVectorSerializer<C>(*serializer);
        }
    }
}

void throwIfFailed(const osgDB::OutputStream& stream, const std::string& what) {
    if (const osgDB::OutputException* e = stream.getException()) {
        throw std::runtime_error("cannot write " + what + " as .osgb: " + e->getError() + " at " +
                                 e->getField());
    }
}

} // namespace

std::string osgbBytes(const osg::Node& node, const std::string& what) {
    std::string bytes;
    const unsigned int header[] = {OSG_HEADER_LOW, OSG_HEADER_HIGH};
    bytes.append(reinterpret_cast<const char*>(header), sizeof header);
    osg::ref_ptr<StringOutputIterator> iterator = new StringOutputIterator(bytes);
    // Options that set nothing, as the plugin's writer is called without any: no compressor
    // and no schema data, so the stream is complete once the object is written and
    // compress() would add nothing.
    osgDB::OutputStream stream(&ownStreamMark());
    stream.start(iterator.get(), osgDB::OutputStream::WRITE_SCENE);
    throwIfFailed(stream, what);
    stream.writeObject(&node);
    throwIfFailed(stream, what);
    iterator->finish();
    return bytes;
}

void prepareOsgbWriter() {
    static std::once_flag once;
    std::call_once(once, [] {
        // One node of every type the tiles use.
        osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
        geometry->setVertexArray(new osg::Vec3Array(3));
        const GLushort shortIndices[] = {0, 1, 2};
        const GLuint indices[] = {0, 1, 2};
        geometry->addPrimitiveSet(new osg::DrawElementsUShort(GL_TRIANGLES, 3, shortIndices));
        geometry->addPrimitiveSet(new osg::DrawElementsUInt(GL_TRIANGLES, 3, indices));
        osg::ref_ptr<osg::MatrixTransform> transform = new osg::MatrixTransform;
        transform->addChild(geometry.get());
        osg::ref_ptr<osg::PagedLOD> lod = new osg::PagedLOD;
        lod->addChild(transform.get(), 0.0f, 1.0f);
        lod->setFileName(1, "x.osgb");
        lod->setRange(1, 1.0f, FLT_MAX);
        osg::ref_ptr<osg::Group> group = new osg::Group;
        group->addChild(lod.get());
        osgbBytes(*group, "a test scene");
        copyElementsWhole<osg::Vec3Array>("osg::Vec3Array");
        copyElementsWhole<osg::DrawElementsUShort>("osg::DrawElementsUShort");
        copyElementsWhole<osg::DrawElementsUInt>("osg::DrawElementsUInt");
    });
}

} // namespace skyframe
