#pragma once
// The picture container: holds at most one graphic (a bitmap picture, an icon
// or a metafile), loads a file by its extension and hands out its bitmap view.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "picture/bitmap.h"

namespace tovi::picture {

class Graphic {
public:
    virtual ~Graphic() = default;
    virtual void loadFromFile(const std::string &fileName) = 0;
    virtual void saveToFile(const std::string &fileName) const = 0;
    virtual bool empty() const = 0;
};

class BitmapGraphic : public Graphic {
public:
    void loadFromFile(const std::string &fileName) override { m_bitmap.loadFromFile(fileName); }
    void saveToFile(const std::string &fileName) const override { m_bitmap.saveToFile(fileName); }
    bool empty() const override { return m_bitmap.empty(); }
    Bitmap &bitmap() { return m_bitmap; }

private:
    Bitmap m_bitmap;
};

// An icon or metafile keeps the bytes it read, once they passed its check;
// it is never drawn or processed.
class RawGraphic : public Graphic {
public:
    void loadFromFile(const std::string &fileName) override;
    void saveToFile(const std::string &fileName) const override;
    bool empty() const override { return m_data.empty(); }

protected:
    virtual void checkData(const std::vector<std::uint8_t> &data) const = 0;

private:
    std::vector<std::uint8_t> m_data;
};

class IconGraphic : public RawGraphic {
public:
    // Throws PictureFormatError ("アイコンイメージが不正です").
    static void check(const std::vector<std::uint8_t> &data);

protected:
    void checkData(const std::vector<std::uint8_t> &data) const override { check(data); }
};

class MetafileGraphic : public RawGraphic {
public:
    // Throws PictureFormatError ("メタファイルが不正です").
    static void check(const std::vector<std::uint8_t> &data);

protected:
    void checkData(const std::vector<std::uint8_t> &data) const override { check(data); }
};

class Picture {
public:
    Picture();
    ~Picture();

    // Looks the extension up (bmp, ico, wmf, emf, any case) and lets a new
    // graphic of that kind read the file; on failure the old graphic stays.
    void loadFromFile(const std::string &fileName);
    // The held graphic writes itself; an empty container creates no file.
    void saveToFile(const std::string &fileName) const;

    // The held bitmap picture; anything else is replaced by a new empty one.
    Bitmap &bitmap();
    const Graphic *graphic() const { return m_graphic.get(); }
    void setGraphic(std::unique_ptr<Graphic> graphic);

    void setOnChange(std::function<void()> handler);

private:
    void changed();
    void hook();

    std::unique_ptr<Graphic> m_graphic;
    std::function<void()> m_onChange;
};

// The text after the last "." of the file-name part, without the dot.
std::string fileExtension(const std::string &fileName);

}  // namespace tovi::picture
