// nr family: operations are added beside their tables.
namespace voksc {}
