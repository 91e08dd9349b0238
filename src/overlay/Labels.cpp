#include "overlay/Labels.h"

#include <osgText/Text>

namespace skyframe {

osg::ref_ptr<osg::Geode> makeLabel(const osg::Vec3f& position, std::string text) {
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    osg::ref_ptr<osgText::Text> label = new osgText::Text;
    label->setCharacterSize(kLabelCharacterSize);
    label->setColor(kLabelColour);
    label->setFont(kLabelFont);
    label->setAxisAlignment(osgText::TextBase::SCREEN);
    label->setPosition(position + kLabelOffset);
    label->setText(text);
    geode->addDrawable(label);
    return geode;
}

} // namespace skyframe
