// Shows what the server or a module said in the page's query: the status
// code and its details.
(function () {
  var params = new URLSearchParams(window.location.search);
  var show = function (id, text) {
    var element = document.getElementById(id);
    if (element) element.textContent = text;
  };
  var status = params.get('qvstatus');
  show('qvstatus', status === null ? 'none' : status);
  show('details', params.get('details') || '');
  var success = params.get('Success');
  show('success', success === null ? '' : (success === '1' ? 'yes' : 'no'));
})();
