#include "library/store/MappingObject.h"

MappingObject MappingObject::initWithFilePath(std::string path)
{
    MappingObject entry;
    entry.filePath = std::move(path);
    return entry;
}

MappingObject MappingObject::initWithFileName(std::string name, std::string path)
{
    MappingObject entry = initWithFilePath(std::move(path));
    entry.fileName = std::move(name);
    return entry;
}
