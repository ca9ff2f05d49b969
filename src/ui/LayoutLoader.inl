#include <stdexcept>
#include <string>

namespace ui {

template <typename T>
T* field(const QWidget* root, const char* name) {
    T* found = root->findChild<T*>(QString::fromLatin1(name));
    if (!found)
        throw std::logic_error(std::string("layout ") + root->objectName().toStdString() +
                               " has no control " + name + " of the expected class");
    return found;
}

}  // namespace ui
